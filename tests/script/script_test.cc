// Directives, scrambled fields, settings and the checksum line: the parts of
// update scripts that need no instrument.
#include "script/script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "script/script_writer.h"
#include "support/run_fixture.h"

namespace {

// set_binary2data on literal fields: each byte is XORed with 0xC5.
TEST(SetBinary2Data, DecodesScrambledFields) {
  struct {
    const char* field;
    size_t out_size;
    const char* text;
  } cases[] = {
      {"8480898988", 50, "AELLM"},      // 'A'^0xC5 = 0x84 ...
      {"848089898", 50, "AELL"},        // odd digit count: the last digit is dropped
      {"8480G98988", 50, "AE"},         // a non-hex digit ends the field
      {"84c58480", 50, "A"},            // a byte that decodes to 0 ends the text
      {"", 50, ""},
      {"f7ebf5f6", 50, "2.03"},         // lower-case digits
      {"8480898988", 4, "AEL"},         // cut to the setting's size, never past it
  };
  for (const auto& c : cases) {
    char out[64];
    memset(out, 'X', sizeof out);
    set_binary2data(c.field, out, c.out_size);
    EXPECT_STREQ(out, c.text) << c.field;
    EXPECT_EQ(out[c.out_size], 'X') << "wrote past the setting for " << c.field;
  }
  EXPECT_EQ(scramble_text("AELLM"), "8480898988");
}

class Directives : public RunFixture {
 protected:
  void apply(char letter, const std::string& value, int attempt = 0) {
    char buffer[kDataSize];
    copy(value, buffer);
    get_base_data(u, letter, buffer, attempt);
  }
  static void copy(const std::string& value, char* buffer) {
    memcpy(buffer, value.c_str(), value.size() + 1);
  }
};

TEST_F(Directives, UDecodesModeBinaryCommResetAndDelay) {
  struct {
    const char* value;
    int mode, binary, comm_reset, delay;
  } cases[] = {
      // flag digit ^ 0xE: bit 0 comm_reset, bit 1 binary, bits 2-3 mode.
      {"E05B2E6D14", 0, 0, 0, 0},
      {"005B2E6D14", 3, 1, 0, 0},        // 0 ^ 0xE = 14: mode 3, binary 1
      {"F=5B2E6D14", 0, 0, 1, 0},        // 1: comm_reset; position 1 is not read
      {"A05B2E65DC", 1, 0, 0, 0x8C8},    // 0xA ^ 0xE = 4: mode 1; delay 2248 ms
      {"c05b2e61fc", 0, 1, 0, 3304},     // lower case: 0xC ^ 0xE = 2, binary
      {"G05B2E6D14", 0, 0, 1, 0},        // non-hex flag: -1 ^ 0xE keeps bit 0 only
  };
  for (const auto& c : cases) {
    apply('u', c.value);
    EXPECT_EQ(u.upd.mode, c.mode) << c.value;
    EXPECT_EQ(u.upd.binary, c.binary) << c.value;
    EXPECT_EQ(u.upd.comm_reset, c.comm_reset) << c.value;
    EXPECT_EQ(u.link.jump_dealy, c.delay) << c.value;
  }
  // The helper that writes the value agrees.
  apply('u', u_directive_value(2, 1, 1, 4500));
  EXPECT_EQ(u.upd.mode, 2);
  EXPECT_EQ(u.upd.binary, 1);
  EXPECT_EQ(u.upd.comm_reset, 1);
  EXPECT_EQ(u.link.jump_dealy, 4500);
}

TEST_F(Directives, UValueShorterThanTenCharactersReadsNothingPastIt) {
  // Missing characters count as non-hex digits (-1), like any other.
  char buffer[16];
  memcpy(buffer, "E0\0" "5B2E6D14", 11);  // stale bytes after the value's end
  get_base_data(u, 'u', buffer, 0);
  uint32_t all_minus_one = 0;
  for (int i = 0; i < 8; ++i) all_minus_one = all_minus_one * 16 + 0xFFFFFFFFu;
  EXPECT_EQ(static_cast<uint32_t>(u.link.jump_dealy), all_minus_one ^ kWordMask);
}

TEST_F(Directives, HeaderSetsThePrefixAndAnEmptyOneRemovesIt) {
  apply('h', scramble_text(":SYST:UPD") + "\r\n");
  EXPECT_STREQ(u.upd.cmd_header, ":SYST:UPD");
  EXPECT_STREQ(u.upd.des_data, ":SYST:UPD ");
  EXPECT_EQ(u.upd.headerlen, 10);
  EXPECT_EQ(u.upd.i488_en, 1);
  apply('h', "\n");
  EXPECT_STREQ(u.upd.des_data, "");
  EXPECT_EQ(u.upd.headerlen, 0);
  EXPECT_EQ(u.upd.i488_en, 0);
}

TEST_F(Directives, TextSettingsAreCutToTheirSizes) {
  apply('j', scramble_text(std::string(80, 'J')));
  EXPECT_EQ(std::string(u.upd.jump_boot), std::string(49, 'J'));
  apply('w', scramble_text(std::string(150, 'W')));
  EXPECT_EQ(std::string(u.upd.HW_version), std::string(99, 'W'));
  apply('v', std::string(40, 'V'));
  EXPECT_EQ(std::string(u.upd.version), std::string(29, 'V'));
  apply('c', std::string(60, 'C') + "\r\n");
  EXPECT_EQ(std::string(u.upd.company), std::string(49, 'C'));
}

TEST_F(Directives, VersionIsAnnouncedOnTheFirstAttemptOnly) {
  apply('v', "2.1\r\n", 0);
  apply('l', scramble_text("2.10"), 0);
  apply('m', scramble_text(",1.02,1.03,"), 0);
  apply('v', "2.2\n", 1);
  apply('f', "12345678", 0);  // checksum line: ignored
  apply('x', "anything", 0);  // unknown letter: ignored
  EXPECT_EQ(os.log(), "<10>  update to version(2.1)\\n\n");
  EXPECT_STREQ(u.upd.version, "2.2");
  EXPECT_STREQ(u.upd.boot_version, "2.10");
  EXPECT_STREQ(u.upd.main_version, ",1.02,1.03,");
}

TEST_F(Directives, ResetSettingKeepsOnlyTheMode) {
  apply('u', u_directive_value(3, 1, 1, 100));
  apply('h', scramble_text("HDR"));
  apply('v', "9");
  reset_setting(u);
  EXPECT_EQ(u.upd.mode, 3);
  EXPECT_EQ(u.upd.binary, 0);
  EXPECT_EQ(u.upd.comm_reset, 0);
  EXPECT_EQ(u.upd.headerlen, 0);
  EXPECT_EQ(u.upd.i488_en, 0);
  EXPECT_EQ(u.link.jump_dealy, 3000);
  EXPECT_STREQ(u.upd.des_data, "");
  EXPECT_STREQ(u.upd.version, "");
  EXPECT_STREQ(u.upd.cmd_header, "");
}

using Program = RunFixture;

TEST_F(Program, EmptyScriptAndDirectivesOnlyNeedNoInstrument) {
  struct {
    const char* script;
    const char* log;
  } cases[] = {
      {"", ""},
      {"___v=2.1\n___u=E05B2E6D14\n___x=ignored\n___f=00000000\n", "<10>  update to version(2.1)\\n\n"},
      {"___v\n", "<10>  update to version()\\n\n"},  // a directive with no value
  };
  for (const auto& c : cases) {
    os.clear();
    std::string path = dir.write("s.txt", c.script);
    FILE* file = fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(program(u, -1, 0, file), 0) << c.script;
    fclose(file);
    EXPECT_EQ(os.log(), c.log) << c.script;
  }
}

// What checksum_file accepts and refuses; the checksum values come from the
// writer's helper and from the word sums worked out by hand.
TEST(ChecksumFile, AcceptsAndRefuses) {
  TempDir dir;
  const std::string body = "&t$\r\n&w@0000F000$\r\n";
  struct {
    const char* name;
    std::string text;
    int result;
  } cases[] = {
      {"valid", "___f=" + checksum_value(body) + "\n" + body, 1},
      {"lines before the checksum line do not count",
       "junk line\n___f=" + checksum_value(body) + "\n" + body, 1},
      {"the last checksum line counts", "___f=00000000\n___f=" + checksum_value(body) + "\n" + body, 1},
      {"a changed byte", "___f=" + checksum_value(body) + "\n&t$\r\n&w@0000F001$\r\n", 0},
      {"a non-hex digit", "___f=" + checksum_value(body).substr(0, 7) + "G\n" + body, 0},
      // 0x5B2E6D14 ^ mask = 0, and no lines follow: sum 0.
      {"only the checksum line", "___f=5B2E6D14\n", 1},
      // Words of "\x01\0\0\0" and "\xFF\xFF\xFF\xFF" add to 0 without a checksum line.
      {"no checksum line, words add to 0", std::string("\x01\0\0\0\xFF\xFF\xFF\xFF", 8), 1},
      {"no checksum line", body, 0},
  };
  for (const auto& c : cases) {
    std::string path = dir.write("script.txt", c.text);
    EXPECT_EQ(checksum_file(path.c_str()), c.result) << c.name;
  }
  EXPECT_EQ(checksum_file(dir.file("absent.txt").c_str()), 0);
}

TEST(ChecksumFile, LongLinesAreSummedInPieces) {
  TempDir dir;
  std::string body = std::string(2500, 'Z') + "\n&x$\n";
  std::string path = dir.write("long.txt", "___f=" + checksum_value(body) + "\n" + body);
  EXPECT_EQ(checksum_file(path.c_str()), 1);
}

TEST(ScriptWriter, CompilesDirectivesAndReportsBadOnes) {
  std::string script, error;
  ASSERT_TRUE(compile_script("@header HDR\n@u mode=1 binary=1 delay=500\n&t$\r\n", &script, &error));
  EXPECT_EQ(script, "___h=8D8197\n___u=805B2E6CE0\n&t$\r\n");
  EXPECT_FALSE(compile_script("&t$\n@bogus x\n", &script, &error));
  EXPECT_EQ(error, "line 2: unknown directive @bogus");
  EXPECT_FALSE(compile_script("@u mode=4\n", &script, &error));
  EXPECT_EQ(error, "line 1: bad @u value: mode=4");
}

}  // namespace
