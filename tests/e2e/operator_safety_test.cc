// The built program, black box, where a station or an operator gets
// something slightly wrong: a closed standard input, a list file that is a
// folder or names no job, misspelt keys, a VISA library that cannot be
// loaded, and the writers refusing what the updater would refuse. Standard
// output stays what operators' procedures expect; tmflash's own notes go to
// standard error.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kDefaultSim = std::string(TMFLASH_SOURCE_DIR) + "/examples/sim/default.sim";
const std::string kPressAnyKey = "Press any key to continue . . . \n";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A started with its standard input closed must not take the first file it
// opens for the operator's input: here the script (opened before the
// instrument list is shown) begins with the line "0", which would answer
// the list.
TEST(OperatorSafety, ClosedStandardInputIsNotTakenFromTheFirstFileOpened) {
  TempDir dir;
  dir.write("fw.txt", "0\n&x$\n");
  std::string list = dir.write("update.lst", "total=1\npath0=fw.txt\n");
  BinaryRun run = run_tmflash_without_stdin({"--visa=sim:" + kDefaultSim, "update.lst"}, dir.path());
  EXPECT_EQ(run.status, 1) << run.output;
  EXPECT_EQ(run.output.find("select 0:"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("please select:No instrument chosen: the operator's input has ended.\n"),
            std::string::npos)
      << run.output;
}

TEST(OperatorSafety, FolderAsListFileIsTheListFilesMessageWithTheReason) {
  TempDir dir;
  std::filesystem::create_directory(dir.file("jobs"));
  BinaryRun run = run_tmflash({dir.file("jobs")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Update file is not complete. (1)\n" + kPressAnyKey);
  EXPECT_EQ(run.errors, "tmflash: " + dir.file("jobs") + ": cannot open the list file: a folder, not a regular file\n");
}

TEST(OperatorSafety, MissingListFileGetsTheSystemsReasonOnStandardError) {
  TempDir dir;
  BinaryRun run = run_tmflash({dir.file("absent.lst")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "Update file is not complete. (1)\n" + kPressAnyKey);
  EXPECT_EQ(run.errors,
            "tmflash: " + dir.file("absent.lst") + ": cannot open the list file: No such file or directory\n");
}

// The exit status stays 0, as callers that run an empty list on purpose
// expect: the warning goes to standard error, not standard output.
TEST(OperatorSafety, ListThatNamesNoJobWarnsBeforeItsUpdateOk) {
  TempDir dir;
  for (const char* text : {"", "total=3\n", "[jobs]\ntotal=2\ndelay=100\n"}) {
    SCOPED_TRACE(text);
    std::string list = dir.write("empty.lst", text);
    BinaryRun run = run_tmflash({list});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, "\nUpdate Ok\n");
    EXPECT_EQ(run.errors, "tmflash: " + list + ": warning: the list file names no job; nothing is run\n");
  }
}

TEST(OperatorSafety, MisspeltKeysAreWarnedAboutOncePerLineAndTheRunGoesOn) {
  TempDir dir;
  std::string list = dir.write("update.lst",
                               "total=2\n"
                               "foo0=x\n"
                               "totl=3\n"
                               "scmd0=echo hi\n"
                               "delay = 5\n"
                               "just words\n"
                               "; delya=1 is a comment\n"
                               "delya=1=2\n");
  BinaryRun run = run_tmflash({list});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "system cmd:echo hi\nhi\n\nUpdate Ok\n");
  const std::string at = "tmflash: " + list + ":";
  EXPECT_EQ(run.errors, at + "2: warning: unknown key \"foo0\"; the line is ignored\n" +
                            at + "3: warning: unknown key \"totl\"; the line is ignored\n" +
                            at + "5: warning: unknown key \"delay \"; the line is ignored "
                                 "(nothing is trimmed around '=')\n" +
                            at + "6: warning: no '=' on the line; it is ignored\n" +
                            at + "8: warning: unknown key \"delya=1\"; the line is ignored\n");
}

TEST(OperatorSafety, LineLongerThanAListLineIsWarnedAboutOnce) {
  TempDir dir;
  std::string command = "echo " + std::string(120, 'x');
  std::string list = dir.write("update.lst", "total=1\nscmd0=" + command + "\n");
  BinaryRun run = run_tmflash({list});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.errors, "tmflash: " + list +
                            ":2: warning: the line is longer than 99 characters; from its 100th character on it "
                            "is read as a line of its own\n");
}

// On a terminal the warnings are yellow; piped, and with NO_COLOR, plain.
TEST(OperatorSafety, WarningsAreYellowOnATerminalOnly) {
  if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) not installed";
  TempDir dir;
  std::string list = dir.write("jobs.lst", "total=1\nfoo0=x\nscmd0=true\n");
  std::string output = dir.file("terminal.txt");
  std::string command = "script -qec \"'" + std::string(TMFLASH_BINARY) + "' '" + list + "'\" /dev/null </dev/null >'" +
                        output + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string seen = read_file(output);
  EXPECT_NE(seen.find("\x1b[93mtmflash: " + list + ":2: warning: unknown key \"foo0\"; the line is ignored\r\n\x1b[0m"),
            std::string::npos)
      << seen;
  BinaryRun piped = run_tmflash({list});
  EXPECT_EQ(piped.errors.find("\x1b["), std::string::npos);
}

// Today's shell jobs before it no longer run: the run stops before any job.
TEST(OperatorSafety, ExplicitVisaThatCannotBeLoadedIsReportedBeforeAnyJob) {
  TempDir dir;
  std::string list = dir.write("jobs.lst", "total=2\nscmd0=echo shell first\nmcmd1=*RST\n");
  BinaryRun run = run_tmflash({"--visa=/no/such/libvisa.so", list});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "VISA is not available: VISA library /no/such/libvisa.so does not exist\n" + kPressAnyKey);
}

// --- --check ------------------------------------------------------------------

// --check runs no shell command, loads no VISA (not even a named one) and
// opens no instrument; its exit status says whether a run would meet a fault.
TEST(OperatorSafety, CheckRunsNothingAndItsStatusTellsWhetherARunWouldFail) {
  TempDir dir;
  std::string marker = dir.file("ran");
  std::string list = dir.write("jobs.lst", "total=2\nscmd0=touch '" + marker + "'\nmcmd1=*RST\n");
  BinaryRun good = run_tmflash({"--visa=/no/such/libvisa.so", "--check", list});
  EXPECT_EQ(good.status, 0);
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_TRUE(good.output.ends_with("job 0: scmd \"touch '" + marker + "'\"\njob 1: mcmd \"*RST\"\n"
                                    "check: faults=0 warnings=0\n"))
      << good.output;
  EXPECT_EQ(good.errors, "");

  dir.write("fw.txt", "&w#123$\n");
  std::string bad = dir.write("bad.lst", "total=1\npath0=fw.txt\n");
  BinaryRun refused = run_tmflash({"--check", bad}, "", dir.path());
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.output.find("fw.txt:1: fault [Corrupted Update File. (2)]: the command line \"&w#123$\" is "
                                "refused in text mode"),
            std::string::npos)
      << refused.output;

  BinaryRun no_list = run_tmflash({"--check"});
  EXPECT_EQ(no_list.status, 1);
  EXPECT_EQ(no_list.output, "tmflash: --check needs a list file (see tmflash --help)\n");
}

// --- The writers ------------------------------------------------------------------

BinaryRun run_tool(const std::string& tool, const std::vector<std::string>& args) {
  return run_program(built_program(tool), args);
}

TEST(OperatorSafety, TmscriptRefusesACommandLineTheUpdaterWouldRefuse) {
  struct {
    const char* source;
    const char* error;  // after "tmscript: SOURCE:"
  } cases[] = {
      {"@u mode=0 binary=0\n&e@00001000$\n&d#DEADBEE$\n&x$\n",
       "3: Corrupted Update File. (2): the command line \"&d#DEADBEE$\" is refused in text mode: a payload pair "
       "is not two hex digits, or its '$' is missing\n"},
      {"@u mode=0 binary=1\n&e@00001000$\n&d#DEADBEE$\n&x$\n",
       "3: Corrupted Update File. (1): the command line \"&d#DEADBEE$\" is refused in binary mode: it ends "
       "before its '$'\n"},
      {"@version 1.0\n\n&x$\n",
       "2: Corrupted Update File. (2): the command line \"\" is refused in text mode: it is shorter than 3 "
       "characters\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    TempDir dir;
    std::string source = dir.write("fw.src", c.source);
    BinaryRun run = run_tool("tmscript", {source, dir.file("fw.txt")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.errors, "tmscript: " + source + ":" + c.error + "tmscript: " + source +
                              ": nothing written: the updater would refuse this script\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("fw.txt")));
  }
}

TEST(OperatorSafety, TmpackRefusesARecordTheUpdaterWouldRefuse) {
  TempDir dir;
  std::string description = dir.write("fw.desc",
                                       "[package]\nrun_order = 0\n"
                                       "[section 0]\ntype = framed\n"
                                       "record = &e@00001000$\n"
                                       "record_raw = 23 77 24\n"
                                       "record = &q$\n");
  BinaryRun run = run_tool("tmpack", {description, dir.file("fw.pkg")});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.errors, "tmpack: " + description +
                            ": byte 1980 of the package: Corrupted Update File. (10-3): section 0: framed record 1 "
                            "begins with 0x23, which is none of ^ & * %\n"
                            "tmpack: " + description +
                            ": nothing written: the updater would refuse this package (--allow-refused writes it "
                            "all the same)\n");
  EXPECT_FALSE(std::filesystem::exists(dir.file("fw.pkg")));
}

}  // namespace
