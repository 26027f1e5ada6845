// check_script: a script read as the first attempt of a run reads it, with
// its directives applied by the run's own code and every command line framed
// as program_cmd would frame it.
#include "script/script_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "script/script_writer.h"
#include "support/temp_dir.h"

namespace {

ScriptCheck check_text(const std::string& text, int mode = 0) {
  TempDir dir;
  std::string path = dir.write("fw.txt", text);
  FILE* file = fopen(path.c_str(), "rb");
  EXPECT_NE(file, nullptr);
  ScriptCheck check = check_script(file, mode);
  fclose(file);
  return check;
}

std::string u_line(int mode, int binary, int comm_reset = 0, uint32_t delay = 3000) {
  return "___u=" + u_directive_value(mode, binary, comm_reset, delay) + "\n";
}

TEST(ScriptCheck, TransferCommandsShowTheSettingsInForceThere) {
  std::string script = "___v=1.04\n___h=" + scramble_text(":FW:UPD") + "\n" + u_line(1, 0, 1, 2500) +
                       "___j=" + scramble_text("SYST:BOOT") + "\n___l=" + scramble_text("2.10") + "\n___m=" +
                       scramble_text(",1.02,") + "\n___w=" + scramble_text("HW3") + "\n&t$\n&e@00001000$\n" +
                       u_line(2, 1) + "&t$\n&x$\n";
  ScriptCheck c = check_text(script);
  EXPECT_TRUE(c.findings.empty());
  EXPECT_EQ(c.lines, 12);
  EXPECT_EQ(c.text_commands, 2);
  EXPECT_EQ(c.binary_commands, 2);
  EXPECT_EQ(c.version, "1.04");
  EXPECT_EQ(c.cmd_header, ":FW:UPD");
  ASSERT_EQ(c.transfers.size(), 2u);
  const TransferPoint& first = c.transfers[0];
  EXPECT_EQ(first.line, 8);
  EXPECT_EQ(first.mode, 1);
  EXPECT_EQ(first.comm_reset, 1);
  EXPECT_EQ(first.jump_dealy, 2500);
  EXPECT_EQ(first.jump_boot, "SYST:BOOT");
  EXPECT_EQ(first.boot_version, "2.10");
  EXPECT_EQ(first.main_version, ",1.02,");
  EXPECT_EQ(first.HW_version, "HW3");
  EXPECT_EQ(c.transfers[1].line, 11);
  EXPECT_EQ(c.transfers[1].mode, 2);
  EXPECT_EQ(c.mode_after, 2);
}

// The entry mode survives from the job before; the send mode and the
// header start from their defaults.
TEST(ScriptCheck, EntryModeComesFromTheJobBeforeUntilADirectiveSetsIt) {
  ScriptCheck carried = check_text("&t$\n", 5);
  ASSERT_EQ(carried.findings.size(), 1u);
  EXPECT_STREQ(carried.findings[0].messages[0], "Corrupted Update File. (3)\n");
  EXPECT_EQ(carried.mode_after, 5);

  ScriptCheck set = check_text(u_line(3, 0) + "&t$\n", 5);
  EXPECT_TRUE(set.findings.empty());
  EXPECT_EQ(set.mode_after, 3);
}

TEST(ScriptCheck, EveryRefusedLineIsAFaultWithItsLine) {
  ScriptCheck c = check_text("&x$\n&w#123$\n" + u_line(0, 1) + "&z$\n&w#12\n&x$\n");
  ASSERT_EQ(c.findings.size(), 2u);
  EXPECT_EQ(c.findings[0].line, 2);
  EXPECT_STREQ(c.findings[0].messages[0], "Corrupted Update File. (2)\n");
  // Binary frames carry an unknown letter as 0xFF: "&z$" is sent.
  EXPECT_EQ(c.findings[1].line, 5);
  EXPECT_STREQ(c.findings[1].messages[0], "Corrupted Update File. (1)\n");
  EXPECT_EQ(c.findings[1].text, "the command line \"&w#12\" is refused in binary mode: it ends before its '$'");
}

TEST(ScriptCheck, OddDirectivesAreWarningsAndTheRunGoesOn) {
  ScriptCheck c = check_text("___x=1\n___u=E0\n___f=12345678\n&x$\n");
  ASSERT_EQ(c.findings.size(), 2u);
  EXPECT_EQ(c.findings[0].kind, Finding::kWarning);
  EXPECT_EQ(c.findings[0].line, 1);
  EXPECT_EQ(c.findings[1].line, 2);
  EXPECT_EQ(c.findings[1].text,
            "the \"u\" value \"E0\" is not a hex flag digit, one character and eight hex digits; the run reads each "
            "missing or non-hex digit as all bits set");
}

TEST(ScriptCheck, FolderThatCannotBeReadIsAWarning) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("folder"));
  FILE* file = fopen(dir.file("folder").c_str(), "rb");
  ASSERT_NE(file, nullptr);
  ScriptCheck c = check_script(file, 0);
  fclose(file);
  ASSERT_EQ(c.findings.size(), 1u);
  EXPECT_EQ(c.findings[0].kind, Finding::kWarning);
  EXPECT_EQ(c.findings[0].text, "cannot be read: Is a directory; a run would send nothing of it");
}

}  // namespace
