#include <gtest/gtest.h>

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
