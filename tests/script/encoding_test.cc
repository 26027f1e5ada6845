#include "script/encoding.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

using namespace std::string_view_literals;

namespace {

// Output buffers are larger than the size passed and filled with this byte, so
// a write past the size, or past the result, shows.
constexpr char kUntouched = '\xAA';
constexpr int kGuardedSize = 64;

struct Guarded {
  Guarded() { memset(bytes, kUntouched, sizeof bytes); }
  // True when no byte from position from onwards was written.
  bool untouched_from(int from) const {
    for (int i = from; i < kGuardedSize; ++i) {
      if (bytes[i] != kUntouched) return false;
    }
    return true;
  }
  char bytes[kGuardedSize];
};

// --- Character conversions -------------------------------------------------

TEST(GetIndexTest, LetterCodesArePositionsInTheTable) {
  struct Case {
    char c;
    int code;
  };
  const Case cases[] = {
      {'e', 0}, {'w', 1}, {'d', 2}, {'q', 3}, {'l', 4},  {'b', 5},
      {'v', 6}, {'m', 7}, {'r', 8}, {'c', 9}, {'x', 10}, {'t', 11},
      {'T', -1}, {'E', -1}, {'z', -1}, {'a', -1}, {'$', -1}, {'#', -1},
      {'\0', -1}, {'\x80', -1}, {'\xF4', -1}, {'\xFF', -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(get_index(c.c), c.code) << "byte " << static_cast<int>(static_cast<unsigned char>(c.c));
  }
}

TEST(GetIndexTest, OnlyTheTwelveLettersHaveACode) {
  int known = 0;
  for (int b = 0; b < 256; ++b) {
    if (get_index(static_cast<char>(b)) >= 0) ++known;
  }
  EXPECT_EQ(known, kCommandLetters);
  EXPECT_STREQ(idx_list, "ewdqlbvmrcxt");
}

TEST(GetValueTest, HexDigitsInEitherCase) {
  struct Case {
    char c;
    int value;
  };
  const Case cases[] = {
      {'0', 0},   {'9', 9},   {'A', 10},  {'F', 15},  {'a', 10},  {'f', 15},
      {'c', 12},  {'D', 13},  {'G', -1},  {'g', -1},  {'/', -1},  {':', -1},
      {'@', -1},  {'`', -1},  {'$', -1},  {' ', -1},  {'\0', -1}, {'\n', -1},
      // The same digits with the top bit set are not digits.
      {'\xB0', -1}, {'\xC1', -1}, {'\xE1', -1}, {'\x80', -1}, {'\xFF', -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(get_value(c.c), c.value) << "byte " << static_cast<int>(static_cast<unsigned char>(c.c));
  }
}

TEST(GetValueTest, ExactlyTwentyTwoBytesAreDigits) {
  int digits = 0;
  for (int b = 0; b < 256; ++b) {
    if (get_value(static_cast<char>(b)) >= 0) ++digits;
  }
  EXPECT_EQ(digits, 22);
}

TEST(GetHexTest, UpperCaseDigitsForNibblesOnly) {
  const char digits[] = "0123456789ABCDEF";
  for (int v = 0; v < 16; ++v) EXPECT_EQ(get_hex(v), digits[v]) << v;
  for (int v : {-1, 16, 17, 255, -16, INT_MIN, INT_MAX}) EXPECT_EQ(get_hex(v), -1) << v;
}

// --- TransBytesData ------------------------------------------------------------

struct PackCase {
  const char* name;
  const char* text;
  int frame_size;
  int result;
  std::string_view frame;  // the bytes expected when result is not -1
};

void PrintTo(const PackCase& c, std::ostream* os) { *os << c.name; }

class TransBytesDataTest : public ::testing::TestWithParam<PackCase> {};

TEST_P(TransBytesDataTest, PacksOrRefuses) {
  const PackCase& c = GetParam();
  Guarded out;
  const int result = TransBytesData(c.text, out.bytes, c.frame_size);
  ASSERT_EQ(result, c.result);
  if (result >= 0) {
    EXPECT_EQ(std::string_view(out.bytes, result), c.frame);
    EXPECT_TRUE(out.untouched_from(result)) << "wrote past the frame";
  } else {
    EXPECT_TRUE(out.untouched_from(c.frame_size)) << "wrote past frame_size";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, TransBytesDataTest,
    ::testing::Values(
        PackCase{"NoPayload", "&t$\n", 40, 3, "\x26\x0B\x24"sv},
        PackCase{"NoPayloadNoLineEnd", "&t$", 40, 3, "\x26\x0B\x24"sv},
        PackCase{"Word", "&w@0000F000$\r\n", 40, 8, "\x26\x01\x40\x00\x00\xF0\x00\x24"sv},
        PackCase{"LowerCaseDigits", "&d#0a1b$", 40, 6, "\x26\x02\x23\x0A\x1B\x24"sv},
        PackCase{"UnknownLetter", "&z$", 40, 3, "\x26\xFF\x24"sv},
        PackCase{"UpperCaseLetterIsUnknown", "&W#12$", 40, 5, "\x26\xFF\x23\x12\x24"sv},
        PackCase{"EmptyPayload", "&w#$", 40, 4, "\x26\x01\x23\x24"sv},
        // Digits are not checked: a non-digit counts as -1 in 16 * hi + lo.
        PackCase{"NonDigitLow", "&w#1G$", 40, 5, "\x26\x01\x23\x0F\x24"sv},
        PackCase{"NonDigitHigh", "&w#G1$", 40, 5, "\x26\x01\x23\xF1\x24"sv},
        PackCase{"NonDigitBoth", "&w#GG$", 40, 5, "\x26\x01\x23\xEF\x24"sv},
        PackCase{"MarkerUnchecked", "&w!12$", 40, 5, "\x26\x01\x21\x12\x24"sv},
        PackCase{"PrefixUnchecked", "\xFFq$", 40, 3, "\xFF\x03\x24"sv},
        PackCase{"PackageRecordPrefix", "%x$", 40, 3, "\x25\x0A\x24"sv},
        // Packing stops at the first '$' that starts a pair.
        PackCase{"TrailingTextIgnored", "&w#12$34$", 40, 5, "\x26\x01\x23\x12\x24"sv},
        // A '$' inside a pair is a digit of -1 ("3$" gives 0x2F), so an odd
        // line runs past it.
        PackCase{"OddDigitsThenEnd", "&w#123$", 40, -1, ""sv},
        PackCase{"OddDigitsRunIntoMoreText", "&w#123$$", 40, 6, "\x26\x01\x23\x12\x2F\x24"sv},
        PackCase{"StopsBeforeEnd", "&w#12", 40, -1, ""sv},
        PackCase{"StopsInsidePair", "&w#1", 40, -1, ""sv},
        PackCase{"StopsAfterMarker", "&w#", 40, -1, ""sv},
        PackCase{"LineEndInsteadOfEnd", "&w#12\n", 40, -1, ""sv},
        PackCase{"TwoCharacters", "&t", 40, -1, ""sv},
        PackCase{"OnlyLineEnd", "\n", 40, -1, ""sv},
        PackCase{"Empty", "", 40, -1, ""sv},
        // The frame must fit the buffer the caller gives.
        PackCase{"FitsExactly", "&w#1234$", 6, 6, "\x26\x01\x23\x12\x34\x24"sv},
        PackCase{"NoRoomForEnd", "&w#1234$", 5, -1, ""sv},
        PackCase{"NoRoomForPayload", "&w#1234$", 4, -1, ""sv},
        PackCase{"ShortFitsExactly", "&t$", 3, 3, "\x26\x0B\x24"sv},
        PackCase{"NoRoomForShort", "&t$", 2, -1, ""sv},
        PackCase{"NoBuffer", "&t$", 0, -1, ""sv}),
    [](const ::testing::TestParamInfo<PackCase>& info) { return info.param.name; });

TEST(TransBytesDataLongTest, PacksAFullLineBuffer) {
  // The longest command a 2000-byte line holds with its NUL: 997 payload bytes.
  char line[kDataSize] = {};
  memcpy(line, "&d#", 3);
  for (int i = 0; i < 997; ++i) memcpy(line + 3 + 2 * i, "a5", 2);
  line[3 + 2 * 997] = '$';
  char frame[kDataSize];
  ASSERT_EQ(TransBytesData(line, frame, kDataSize), 1001);
  EXPECT_EQ(std::string_view(frame, 3), "\x26\x02\x23"sv);
  for (int i = 3; i < 1000; ++i) ASSERT_EQ(frame[i], '\xA5') << i;
  EXPECT_EQ(frame[1000], '$');
  EXPECT_EQ(TransBytesData(line, frame, 1000), -1);
}

// --- TranStrData ---------------------------------------------------------------

struct UnpackCase {
  const char* name;
  std::string_view raw;  // exactly the bytes the length counts
  int text_size;
  int result;
  const char* text;  // what the text buffer holds afterwards, up to its NUL
};

void PrintTo(const UnpackCase& c, std::ostream* os) { *os << c.name; }

class TranStrDataTest : public ::testing::TestWithParam<UnpackCase> {};

TEST_P(TranStrDataTest, ConvertsOrRefuses) {
  const UnpackCase& c = GetParam();
  // An exact-size copy (null for length 0), so a read outside the counted
  // bytes is a fault, not a silent read of the literal's own NUL.
  std::vector<char> raw(c.raw.begin(), c.raw.end());
  Guarded out;
  const int length = static_cast<int>(raw.size());
  const int result = TranStrData(raw.empty() ? nullptr : raw.data(), out.bytes, length, c.text_size);
  EXPECT_EQ(result, c.result);
  if (c.text_size > 0) {
    const int written = static_cast<int>(strlen(c.text)) + 1;
    EXPECT_EQ(std::string_view(out.bytes, written), std::string_view(c.text, written));
    EXPECT_TRUE(out.untouched_from(written)) << "wrote past the text's NUL";
  } else {
    EXPECT_TRUE(out.untouched_from(0)) << "wrote into an empty buffer";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Raw, TranStrDataTest,
    ::testing::Values(
        UnpackCase{"NoPayloadCountingNul", "&q$\0"sv, 40, 3, "&q$"},
        UnpackCase{"NoPayload", "&q$"sv, 40, 3, "&q$"},
        UnpackCase{"NoPayloadIgnoresMore", "&t$\x12\x34$"sv, 40, 3, "&t$"},
        UnpackCase{"Payload", "&d#\x0A\x1B$"sv, 40, 8, "&d#0A1B$"},
        UnpackCase{"PayloadCountingNul", "&d#\x0A\x1B$\0"sv, 40, 8, "&d#0A1B$"},
        UnpackCase{"Word", "&w@\x00\x00\xF0\x00$"sv, 40, 12, "&w@0000F000$"},
        UnpackCase{"EveryNibble", "&d#\x00\x7F\x80\xFF\x5A$"sv, 40, 14, "&d#007F80FF5A$"},
        UnpackCase{"EmptyPayload", "&w#$"sv, 40, 4, "&w#$"},
        UnpackCase{"EmptyPayloadCountingNul", "&w#$\0"sv, 40, 4, "&w#$"},
        // The letter, prefix and marker are carried as they are.
        UnpackCase{"LetterNotTranslated", "*z!\x01$"sv, 40, 6, "*z!01$"},
        // A NUL payload byte just before the closing byte is data, not dropped.
        UnpackCase{"NulPayloadByte", "&d#\x00$"sv, 40, 6, "&d#00$"},
        // The closing byte is copied whatever it is; the checks downstream
        // refuse a line without its '$'.
        UnpackCase{"ClosingByteCopied", "&w#\x12X"sv, 40, 6, "&w#12X"},
        // Counted lengths that cannot hold a command: an empty text.
        UnpackCase{"LengthZero", ""sv, 40, -1, ""},
        UnpackCase{"LengthOne", "&"sv, 40, -1, ""},
        UnpackCase{"OnlyNul", "\0"sv, 40, -1, ""},
        UnpackCase{"LengthTwo", "&q"sv, 40, -1, ""},
        UnpackCase{"TwoCountingNul", "&q\0"sv, 40, -1, ""},
        UnpackCase{"MarkerWithoutEnd", "&w#"sv, 40, -1, ""},
        UnpackCase{"MarkerWithoutEndCountingNul", "&w#\0"sv, 40, -1, ""},
        // The text and its NUL must fit text_size: 2 * length - 3 bytes.
        UnpackCase{"FitsExactly", "&d#\x0A\x1B$"sv, 9, 8, "&d#0A1B$"},
        UnpackCase{"NoRoomForNul", "&d#\x0A\x1B$"sv, 8, -1, ""},
        UnpackCase{"ShortFitsExactly", "&q$"sv, 4, 3, "&q$"},
        UnpackCase{"NoRoomForShortNul", "&q$"sv, 3, -1, ""},
        UnpackCase{"NoBuffer", "&q$"sv, 0, -1, ""}),
    [](const ::testing::TestParamInfo<UnpackCase>& info) { return info.param.name; });

TEST(TranStrDataRefusalTest, EmptiesTheTextLeftByTheLastReply) {
  // Package records are converted into the buffer that holds the previous
  // reply; a refused record must not leave that reply to be sent.
  char text[kDataSize] = "&w#12$ earlier reply";
  EXPECT_EQ(TranStrData("&d", text, 2, kDataSize), -1);
  EXPECT_STREQ(text, "");
  EXPECT_EQ(CheckByteData(text), 1);
  EXPECT_EQ(TransBytesData(text, text + 100, 100), -1);
}

TEST(TranStrDataRefusalTest, NegativeLengthReadsNothing) {
  Guarded out;
  EXPECT_EQ(TranStrData(nullptr, out.bytes, -5, 40), -1);
  EXPECT_EQ(out.bytes[0], '\0');
  EXPECT_TRUE(out.untouched_from(1));
}

TEST(TranStrDataLongTest, LongestRawCommandFillsTheLineBuffer) {
  // 1001 raw bytes give 1998 characters and a NUL: the most a 2000-byte line
  // takes; one byte more no longer fits.
  char raw[1002];
  memcpy(raw, "&d#", 3);
  memset(raw + 3, '\xC3', sizeof raw - 4);
  raw[sizeof raw - 1] = '$';
  char text[kDataSize];
  ASSERT_EQ(TranStrData(raw, text, 1002, kDataSize), -1);
  raw[1000] = '$';
  ASSERT_EQ(TranStrData(raw, text, 1001, kDataSize), 1998);
  EXPECT_EQ(std::string_view(text, 5), "&d#C3"sv);
  EXPECT_EQ(std::string_view(text + 1995, 4), "C3$\0"sv);
}

// --- CheckByteData ---------------------------------------------------------------

struct CheckCase {
  const char* name;
  const char* line;
  int result;
  const char* after;  // the line afterwards; unchanged for every fault
};

void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }

class CheckByteDataTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(CheckByteDataTest, ChecksAndCuts) {
  const CheckCase& c = GetParam();
  char line[kGuardedSize];
  memset(line, kUntouched, sizeof line);
  strcpy(line, c.line);
  const size_t before = strlen(c.line);
  EXPECT_EQ(CheckByteData(line), c.result);
  EXPECT_STREQ(line, c.after);
  // Only the cutting NUL may be written: what lay after it stays, and nothing
  // past the line's own NUL is touched.
  const size_t kept = strlen(c.after);
  if (kept < before) {
    EXPECT_EQ(std::string_view(line + kept + 1, before - kept),
              std::string_view(c.line + kept + 1, before - kept));
  }
  EXPECT_EQ(line[before + 1], kUntouched);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, CheckByteDataTest,
    ::testing::Values(
        CheckCase{"NoPayload", "&t$\n", 0, "&t$"},
        CheckCase{"NoPayloadNoLineEnd", "&t$", 0, "&t$"},
        CheckCase{"NoPayloadTrailingText", "&t$ junk", 0, "&t$"},
        CheckCase{"Word", "&w@0000F000$\r\n", 0, "&w@0000F000$"},
        CheckCase{"LowerCaseDigits", "&d#0a1b$", 0, "&d#0a1b$"},
        CheckCase{"EmptyPayload", "&w#$\n", 0, "&w#$"},
        CheckCase{"CutAtFirstEnd", "&w#12$34$\n", 0, "&w#12$"},
        CheckCase{"PrefixUnchecked", "\xFFq$", 0, "\xFFq$"},
        CheckCase{"Empty", "", 1, ""},
        CheckCase{"OnlyLineEnd", "\n", 1, "\n"},
        CheckCase{"TwoCharacters", "&t", 1, "&t"},
        // Too short decides before an unknown letter.
        CheckCase{"TwoCharactersUnknownLetter", "&Z", 1, "&Z"},
        CheckCase{"UnknownLetter", "&z$", 2, "&z$"},
        CheckCase{"UpperCaseLetter", "&T$", 2, "&T$"},
        // An unknown letter decides before a bad marker or an empty payload.
        CheckCase{"UnknownLetterBadMarker", "&z!", 2, "&z!"},
        CheckCase{"UnknownLetterMarkerOnly", "&z#", 2, "&z#"},
        CheckCase{"BadMarker", "&w!12$", 3, "&w!12$"},
        CheckCase{"SpaceForMarker", "&w 12$", 3, "&w 12$"},
        CheckCase{"MarkerOnly", "&w#", 5, "&w#"},
        CheckCase{"MarkerThenLineEnd", "&w#\n", 4, "&w#\n"},
        CheckCase{"OddDigitCount", "&w#123$", 4, "&w#123$"},
        CheckCase{"StopsBeforeEnd", "&w#12", 4, "&w#12"},
        CheckCase{"StopsBeforeEndWithLineEnd", "&w#12\r\n", 4, "&w#12\r\n"},
        CheckCase{"NonDigit", "&w#1G$", 4, "&w#1G$"},
        CheckCase{"StraySpace", "&w#12 34$", 4, "&w#12 34$"},
        CheckCase{"TopBitDigits", "&w#\xB1\xB2$", 4, "&w#\xB1\xB2$"}),
    [](const ::testing::TestParamInfo<CheckCase>& info) { return info.param.name; });

// --- SetI488Header ---------------------------------------------------------------

struct HeaderCase {
  const char* name;
  int i488_en;
  int binary;
  int length;
  int result;
  const char* header;  // the bytes written, no terminator
};

void PrintTo(const HeaderCase& c, std::ostream* os) { *os << c.name; }

class SetI488HeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(SetI488HeaderTest, WritesHeaderOnly) {
  const HeaderCase& c = GetParam();
  FileSettings upd;
  upd.i488_en = c.i488_en;
  upd.binary = c.binary;
  Guarded out;
  EXPECT_EQ(SetI488Header(upd, out.bytes, c.length), c.result);
  const int written = static_cast<int>(strlen(c.header));
  EXPECT_EQ(std::string_view(out.bytes, written), c.header);
  EXPECT_TRUE(out.untouched_from(written)) << "the byte after the header changed";
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, SetI488HeaderTest,
    ::testing::Values(
        HeaderCase{"OneDigit", 1, 1, 9, 3, "#19"},
        HeaderCase{"ShortFrame", 1, 1, 3, 3, "#13"},
        HeaderCase{"WordFrame", 1, 1, 8, 3, "#18"},
        HeaderCase{"TwoDigits", 1, 1, 10, 4, "#210"},
        HeaderCase{"TwelveBytes", 1, 1, 12, 4, "#212"},
        HeaderCase{"TwoDigitsTop", 1, 1, 99, 4, "#299"},
        HeaderCase{"ThreeDigits", 1, 1, 100, 5, "#3100"},
        HeaderCase{"FourDigits", 1, 1, 1000, 6, "#41000"},
        HeaderCase{"FullBuffer", 1, 1, 2000, 6, "#42000"},
        HeaderCase{"Zero", 1, 1, 0, 3, "#10"},
        HeaderCase{"NineDigits", 1, 1, 999999999, kI488HeaderMax, "#9999999999"},
        HeaderCase{"TooManyDigits", 1, 1, 1000000000, -1, ""},
        HeaderCase{"Negative", 1, 1, -8, -1, ""},
        HeaderCase{"TextMode", 1, 0, 8, 0, ""},
        HeaderCase{"NoCommandHeader", 0, 1, 8, 0, ""},
        HeaderCase{"Neither", 0, 0, 8, 0, ""},
        // Any non-zero setting counts as set.
        HeaderCase{"NonZeroSettings", 2, -1, 8, 3, "#18"}),
    [](const ::testing::TestParamInfo<HeaderCase>& info) { return info.param.name; });

TEST(SetI488HeaderReuseTest, KeepsThePrefixOfTheFrameBehindIt) {
  // A version query writes its own header over the transfer command's frame
  // and relies on the frame's prefix character still lying behind it.
  FileSettings upd;
  upd.i488_en = 1;
  upd.binary = 1;
  char frame[] = "XXX^\x0B$";
  ASSERT_EQ(SetI488Header(upd, frame, 3), 3);
  EXPECT_EQ(std::string_view(frame, 6), "#13^\x0B$"sv);
}

}  // namespace
