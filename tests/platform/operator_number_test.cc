#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/recording_platform.h"

namespace {

TEST(OperatorNumber, OnlyAWholeDecimalIntegerIsAnAnswer) {
  struct {
    const char* line;
    bool number;
    int value;
  } cases[] = {
      {"0\n", true, 0},       {"  12 \r\n", true, 12},   {"-1\n", true, -1},
      {"+3", true, 3},        {"2147483647", true, 2147483647},
      {"", false, 0},         {"\n", false, 0},          {"abc\n", false, 0},
      {"3x\n", false, 0},     {"1 2\n", false, 0},       {"-\n", false, 0},
      {"2147483648\n", false, 0},  // beyond int: no wrap-around to a valid position
      {"99999999999999999999\n", false, 0},
  };
  for (const auto& c : cases) {
    int value = 0;
    EXPECT_EQ(parse_operator_number(c.line, &value), c.number) << c.line;
    if (c.number) {
      EXPECT_EQ(value, c.value) << c.line;
    }
  }
}

// The answers a stream gives, one read_operator_answer() each, up to its end.
std::vector<std::string> answers_of(FILE* in, size_t at_most = 100) {
  std::vector<std::string> out;
  for (size_t i = 0; i < at_most; ++i) {
    int value = -7;
    InputResult r = read_operator_answer(in, &value);
    if (r == InputResult::kEnd) break;
    out.push_back(r == InputResult::kNumber ? std::to_string(value) : "x");
  }
  return out;
}

std::vector<std::string> answers_of(const std::string& bytes) {
  FILE* in = std::tmpfile();
  EXPECT_NE(in, nullptr);
  fwrite(bytes.data(), 1, bytes.size(), in);
  rewind(in);
  std::vector<std::string> out = answers_of(in);
  fclose(in);
  return out;
}

TEST(OperatorAnswer, EachLineIsJudgedByAllItsBytes) {
  using Answers = std::vector<std::string>;
  EXPECT_EQ(answers_of("0\n"), Answers{"0"});
  EXPECT_EQ(answers_of("1"), Answers{"1"});  // the last line needs no line end
  EXPECT_EQ(answers_of("abc\n2\n"), (Answers{"x", "2"}));
  EXPECT_EQ(answers_of("\n\n3\n"), (Answers{"x", "x", "3"}));
  // A NUL ends nothing: the line is no number, and the next line is the
  // next answer, not swallowed with it.
  EXPECT_EQ(answers_of(std::string("0\0\n1\n", 5)), (Answers{"x", "1"}));
  EXPECT_EQ(answers_of(std::string("\0" "5\n", 3)), (Answers{"x"}));
  EXPECT_EQ(answers_of(std::string(" 4 \r\n", 5)), Answers{"4"});
  // A long line is no number, read in stretches of kAnswerStretch bytes.
  EXPECT_EQ(answers_of(std::string(100, ' ') + "6\n"), Answers{"x"});
  EXPECT_EQ(answers_of(std::string(kAnswerStretch, '7') + "\n8\n"), (Answers{"x", "x", "8"}));
  EXPECT_EQ(answers_of(""), Answers{});
}

TEST(OperatorAnswer, DevZeroGivesBoundedAnswersThatAreNoNumbers) {
  FILE* in = fopen("/dev/zero", "rb");
  ASSERT_NE(in, nullptr);
  std::vector<std::string> answers = answers_of(in, 1000);
  fclose(in);
  EXPECT_EQ(answers, std::vector<std::string>(1000, "x"));
}

TEST(RecordingPlatform, ScreenShowsWhatATerminalKeepsAfterCarriageReturns) {
  RecordingPlatform os;
  os.print(kColourPlain, "update...10.00%\r");
  os.print(kColourPlain, "update...100.00%\r");
  os.print(kColourPlain, "main\n");
  os.print(kColourRed, "done\n");
  EXPECT_EQ(os.screen(), "mainte...100.00%\ndone\n");  // the rest of the old line stays
  EXPECT_EQ(os.text(), "update...10.00%\rupdate...100.00%\rmain\ndone\n");
}

}  // namespace
