// The text helpers the list file, the directives, the package and simulator
// descriptions and the transcripts share.
#include "base/text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "base/hex.h"

namespace {

TEST(HexPair, ReadsTwoDigitsInEitherCaseAndRefusesAnythingElse) {
  EXPECT_EQ(hex_pair('0', '0'), 0x00);
  EXPECT_EQ(hex_pair('f', 'F'), 0xFF);
  EXPECT_EQ(hex_pair('A', '5'), 0xA5);
  for (char bad : {'g', 'G', ' ', '\0', '$', static_cast<char>(0xB0)}) {
    EXPECT_EQ(hex_pair(bad, '0'), -1) << static_cast<int>(bad);
    EXPECT_EQ(hex_pair('0', bad), -1) << static_cast<int>(bad);
  }
}

TEST(HexPairs, WriteEveryByteAsTwoUpperCaseDigitsAndNothingMore) {
  uint8_t bytes[256];
  for (int b = 0; b < 256; ++b) bytes[b] = static_cast<uint8_t>(b);
  char out[513];
  memset(out, '#', sizeof out);
  EXPECT_EQ(put_hex_pairs(bytes, sizeof bytes, out), out + 512);
  for (int b = 0; b < 256; ++b) {
    char expected[3];
    snprintf(expected, sizeof expected, "%02X", b);
    EXPECT_EQ(std::string(out + 2 * b, 2), expected) << b;
  }
  EXPECT_EQ(out[512], '#');  // no NUL, nothing past the digits
  EXPECT_EQ(put_hex_pairs(bytes, 0, out), out);
}

TEST(MajorPart, IsTheTextBeforeTheFirstDotCutToFit) {
  char out[6];
  major_part("2.05", out, sizeof out);
  EXPECT_STREQ(out, "2");
  major_part("12.1.3", out, sizeof out);
  EXPECT_STREQ(out, "12");
  major_part("2", out, sizeof out);  // no dot: the whole text
  EXPECT_STREQ(out, "2");
  major_part(".5", out, sizeof out);
  EXPECT_STREQ(out, "");
  major_part("1234567.0", out, sizeof out);  // cut to the buffer, NUL kept
  EXPECT_STREQ(out, "12345");
}

TEST(KeyValueLines, TrimSplitAndTakeLinesOneByOne) {
  EXPECT_EQ(trim(" \t key = value \r\n"), "key = value");
  EXPECT_EQ(trim(" \t\r\n"), "");
  std::string_view key, value;
  ASSERT_TRUE(split_key_value("  main = USB0::A=B  ", &key, &value));
  EXPECT_EQ(key, "main");
  EXPECT_EQ(value, "USB0::A=B");  // only the first '=' splits
  EXPECT_FALSE(split_key_value("[instrument]", &key, &value));

  std::string_view text = "one\r\n\ntwo";
  EXPECT_EQ(next_line(&text), "one\r");
  EXPECT_EQ(next_line(&text), "");
  EXPECT_EQ(next_line(&text), "two");
  EXPECT_TRUE(text.empty());
}

struct UnescapeCase {
  const char* value;
  bool ok;
  std::string result_or_why;
};

TEST(Unescape, ResolvesTheFiveEscapesAndSaysWhatIsWrong) {
  const UnescapeCase cases[] = {
      {"plain", true, "plain"},
      {"a\\nb\\rc\\td\\\\e", true, "a\nb\rc\td\\e"},
      {"\\x00\\x7f\\xFF", true, std::string("\0\x7F\xFF", 3)},
      {"ends in \\", false, "a \\ ends the value"},
      {"\\x4", false, "\\x needs two hex digits"},
      {"\\xg0", false, "\\x needs two hex digits"},
      {"\\q", false, "unknown escape \\q"},
  };
  for (const UnescapeCase& c : cases) {
    std::string out = "before", why;
    EXPECT_EQ(unescape(c.value, &out, &why), c.ok) << c.value;
    EXPECT_EQ(c.ok ? out : why, c.result_or_why) << c.value;
    if (!c.ok) {
      EXPECT_EQ(out, "before") << c.value;  // untouched on failure
    }
  }
}

TEST(Escaped, ShowsEveryByteOnOneLine) {
  const std::string bytes("a\n\r\t\\\"\x01\x7F\xC5z", 10);
  EXPECT_EQ(escaped(bytes, false), "a\\n\\r\\t\\\\\"\\x01\\x7F\\xC5z");
  EXPECT_EQ(escaped(bytes, true), "a\\n\\r\\t\\\\\\\"\\x01\\x7F\\xC5z");
  EXPECT_EQ(escaped("", true), "");
}

}  // namespace
