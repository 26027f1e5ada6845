#include "driver/list_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/run_fixture.h"

namespace {

struct ParserCase {
  const char* line;
  int result;
  const char* after;  // the line after parser() trimmed it
};

class ParserTest : public ::testing::TestWithParam<ParserCase> {};

TEST_P(ParserTest, ClassifiesAndTrims) {
  const ParserCase& c = GetParam();
  char line[kListLineSize] = {};
  strncpy(line, c.line, sizeof line - 1);
  EXPECT_EQ(parser(line), c.result) << "line: " << c.line;
  if (c.after != nullptr) {
    EXPECT_STREQ(line, c.after);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, ParserTest,
    ::testing::Values(
        ParserCase{"total=3\n", 5, "total=3"},
        ParserCase{"delay=1000\r\n", 5, "delay=1000"},
        ParserCase{"; a comment=1\n", kSkipLine, nullptr},
        ParserCase{"[jobs]\n", kSkipLine, nullptr},
        ParserCase{"\n", kSkipLine, nullptr},
        ParserCase{"  \t \r\n", kSkipLine, nullptr},
        ParserCase{"", kSkipLine, nullptr},
        // Split at the last '=', so a value cannot hold one.
        ParserCase{"mcmd0=a=b\n", 7, "mcmd0=a=b"},
        // No '=': index 0, an empty key that nothing matches.
        ParserCase{"total\n", 0, "total"},
        // Spaces around '=' stay part of key and value.
        ParserCase{"debug_mode = 1\n", 11, "debug_mode = 1"},
        // Trailing blanks, control characters and bytes from 0x80 are trimmed.
        ParserCase{"path0=fw.txt \x01\xA0\xFF\n", 5, "path0=fw.txt"},
        // A comment sign that is not the first character does not comment.
        ParserCase{" ;x=1", 3, " ;x=1"}));

// One list file, the fields it leaves, and what reading it printed.
struct ListCase {
  const char* name;
  const char* text;
  int result;
  const char* log;             // what the recording platform saw on standard output
  const char* note = nullptr;  // then on standard error, after "tmflash: <list file>"
};

class ListFileTest : public RunFixture, public ::testing::WithParamInterface<ListCase> {};

TEST_P(ListFileTest, ReadsOrRefuses) {
  const ListCase& c = GetParam();
  std::string path = dir.write("list.ini", c.text);
  EXPECT_EQ(OpenIni(u, path.c_str()), c.result);
  std::string note = c.note != nullptr ? "stderr<14>tmflash: " + path + c.note + "\\n\n" : "";
  EXPECT_EQ(os.log(), c.log + note);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ListFileTest,
    ::testing::Values(
        ListCase{"Empty", "", 0, ""},
        ListCase{"TotalTwenty", "total=20\n", 0, ""},
        ListCase{"TotalTwentyOne", "total=21\npath0=x\n", 1,
                 "<12>Update file is not complete. (3)\\n\n", ":1: total=21 is over 20"},
        ListCase{"JobBeforeTotal", "path0=fw.txt\ntotal=1\n", 1,
                 "<12>Update file is not complete. (4)\\n\n",
                 ":1: job key \"path0\" names slot 0, and no total=N before it gives any"},
        ListCase{"JobAfterTotal", "total=1\npath0=fw.txt\n", 0, ""},
        ListCase{"SlotEqualsTotal", "total=3\npath3=a.txt\n", 1,
                 "<12>Update file is not complete. (4)\\n\n",
                 ":2: job key \"path3\" names slot 3; total=3 gives slots 0 .. 2"},
        ListCase{"NegativeSlot", "total=3\nmcmd-1=x\n", 1,
                 "<12>Update file is not complete. (4)\\n\n",
                 ":2: job key \"mcmd-1\" names slot -1; total=3 gives slots 0 .. 2"},
        ListCase{"StopsAtFirstError", "total=1\npath5=a\ntotal=30\n", 1,
                 "<12>Update file is not complete. (4)\\n\n",
                 ":2: job key \"path5\" names slot 5; total=1 gives slots 0 .. 0"}),
    [](const auto& info) { return std::string(info.param.name); });

using ListFileFields = RunFixture;

TEST_F(ListFileFields, StoresSettingsAndJobs) {
  std::string path = dir.write("list.ini",
                               "[settings]\n"
                               "; comment\n"
                               "\n"
                               "total=5\r\n"
                               "delay=1000\r\n"
                               "list_pause=2\n"
                               "debug_mode=1\n"
                               "usb_address=USB0::0x1234::0x5678::SN1::INSTR\n"
                               "path=fw.txt\n"          // no digits: slot 0
                               "mcmd1x=*RST\n"          // digits stop at 'x'
                               "scmd2=DELAY 500\n"
                               "pt4=pack.bin\n"
                               "unknown=7\n");
  ASSERT_EQ(OpenIni(u, path.c_str()), 0);
  EXPECT_EQ(u.run.list_total, 5);
  EXPECT_EQ(u.run.list_delay, 1000);
  EXPECT_EQ(u.run.list_pause, 2);
  EXPECT_EQ(u.run.debug_mode, 1);
  EXPECT_STREQ(u.link.UsbStrFilter, "USB0::0x1234::0x5678::SN1::INSTR");
  const uint8_t kinds[] = {kJobScript, kJobMachine, kJobSystem, kJobEmpty, kJobPackage};
  const char* args[] = {"fw.txt", "*RST", "DELAY 500", "", "pack.bin"};
  for (int slot = 0; slot < 5; ++slot) {
    EXPECT_EQ(u.run.commond_mode[slot], kinds[slot]) << "slot " << slot;
    EXPECT_STREQ(u.run.commond[slot], args[slot]) << "slot " << slot;
  }
}

TEST_F(ListFileFields, LaterKeysReplaceEarlierOnes) {
  std::string path = dir.write("list.ini", "total=2\nmcmd0=first\npath0=second\ndelay=5\ndelay=7\n");
  ASSERT_EQ(OpenIni(u, path.c_str()), 0);
  EXPECT_EQ(u.run.commond_mode[0], kJobScript);
  EXPECT_STREQ(u.run.commond[0], "second");
  EXPECT_EQ(u.run.list_delay, 7);
}

TEST_F(ListFileFields, SpacesAroundEqualsMakeAnUnknownKey) {
  std::string path = dir.write("list.ini", "debug_mode = 1\n");
  ASSERT_EQ(OpenIni(u, path.c_str()), 0);
  EXPECT_EQ(u.run.debug_mode, 0);
}

TEST_F(ListFileFields, DefaultSearchExpressionStaysWithoutUsbAddress) {
  std::string path = dir.write("list.ini", "total=1\n");
  ASSERT_EQ(OpenIni(u, path.c_str()), 0);
  EXPECT_STREQ(u.link.UsbStrFilter, "USB[0-9]*::?*::INSTR");
}

TEST_F(ListFileFields, LongLinesAreReadInPiecesAndNeverOverflow) {
  // The first 99 characters of a long line arrive as one line, the rest as
  // lines of their own without '=', which are ignored.
  std::string value(140, 'A');
  std::string path = dir.write("list.ini", "total=1\nmcmd0=" + value + "\nusb_address=" +
                                               std::string(200, 'B') + "\n");
  ASSERT_EQ(OpenIni(u, path.c_str()), 0);
  EXPECT_EQ(std::string(u.run.commond[0]), std::string(93, 'A'));  // 99 - strlen("mcmd0=")
  EXPECT_EQ(strlen(u.link.UsbStrFilter), 87u);  // 99 - strlen("usb_address=")
}

TEST_F(ListFileFields, MissingFileIsMessageOneWithTheReasonOnStandardError) {
  EXPECT_EQ(OpenIni(u, dir.file("absent.lst").c_str()), 1);
  EXPECT_EQ(os.log(), "<12>Update file is not complete. (1)\\n\nstderr<14>tmflash: " + dir.file("absent.lst") +
                          ": cannot open the list file: No such file or directory\\n\n");
}

}  // namespace
