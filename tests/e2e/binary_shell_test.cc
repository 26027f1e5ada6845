// The built program, black box: the command line, shell-command runs and the
// failure paths that need no instrument.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace {

TEST(Binary, RunsShellJobsInOrderAndEndsWithUpdateOk) {
  TempDir dir;
  std::string list = dir.write("jobs.lst",
                               "[jobs]\n"
                               "total=3\n"
                               "delay=10\n"
                               "scmd0=echo first\n"
                               "scmd1=DELAY 20\n"
                               "scmd2=echo third\n");
  BinaryRun run = run_tmflash({list});
  EXPECT_EQ(run.status, 0);
  // Piped: no colour codes.
  EXPECT_EQ(run.output,
            "system cmd:echo first\nfirst\n"
            "system cmd:DELAY 20\n"
            "system cmd:echo third\nthird\n"
            "\nUpdate Ok\n");
}

TEST(Binary, NoListFileIsParametersErrorAndThePauseDoesNotWaitOnAPipe) {
  BinaryRun run = run_tmflash({}, "x\n");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output, "parameters error\nPress any key to continue . . . \n");
}

TEST(Binary, ListFileErrorsAreNumbered) {
  TempDir dir;
  struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"total=21\n", "Update file is not complete. (3)\n"},
      {"path0=fw.txt\ntotal=1\n", "Update file is not complete. (4)\n"},
  };
  for (const auto& c : cases) {
    std::string list = dir.write("bad.lst", c.text);
    BinaryRun run = run_tmflash({list});
    EXPECT_EQ(run.status, 1) << c.text;
    EXPECT_EQ(run.output, std::string(c.message) + "Press any key to continue . . . \n") << c.text;
  }
  const std::string absent = dir.file("absent.lst");
  BinaryRun missing = run_tmflash({absent});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.output, "Update file is not complete. (1)\nPress any key to continue . . . \n");
}

TEST(Binary, ArgumentsAfterTheListFileAreIgnored) {
  TempDir dir;
  std::string list = dir.write("jobs.lst", "total=1\nscmd0=echo only\n");
  BinaryRun run = run_tmflash({list, "--bogus", "more", "args"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, "system cmd:echo only\nonly\n\nUpdate Ok\n");
}

TEST(Binary, VisaOptionIsParsedInBothFormsAndNotLoadedForShellJobs) {
  TempDir dir;
  std::string list = dir.write("jobs.lst", "total=1\nscmd0=echo ok\n");
  const std::vector<std::string> forms[] = {{"--visa=/no/such/libvisa.so", list},
                                             {"--visa", "/no/such/libvisa.so", list}};
  for (const std::vector<std::string>& args : forms) {
    BinaryRun run = run_tmflash(args);
    EXPECT_EQ(run.status, 0) << args[0];
    EXPECT_EQ(run.output, "system cmd:echo ok\nok\n\nUpdate Ok\n") << args[0];
  }
}

TEST(Binary, HelpVersionAndBadOptions) {
  BinaryRun help = run_tmflash({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.output.rfind("Usage: tmflash [OPTIONS] LIST_FILE [ignored...]\n", 0), 0u) << help.output;
  BinaryRun version = run_tmflash({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.output.rfind("tmflash ", 0), 0u);
  BinaryRun bad = run_tmflash({"--bogus", "list.lst"});
  EXPECT_EQ(bad.status, 1);
  EXPECT_EQ(bad.output, "tmflash: unknown option --bogus (see tmflash --help)\n");
  BinaryRun no_value = run_tmflash({"--visa"});
  EXPECT_EQ(no_value.status, 1);
  EXPECT_EQ(no_value.output, "tmflash: option --visa needs a value (see tmflash --help)\n");
}

}  // namespace

namespace {

// On a terminal the messages are coloured; NO_COLOR turns that off. The
// terminal comes from script(1), which runs the program on a pseudo-terminal.
TEST(Binary, ColoursOnATerminalOnly) {
  if (system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "script(1) not installed";
  TempDir dir;
  std::string list = dir.write("jobs.lst", "total=1\nscmd0=true\n");
  std::string command = "script -qec \"'" + std::string(TMFLASH_BINARY) + "' '" + list +
                        "'\" /dev/null </dev/null";
  std::string coloured = command_output(command);
  EXPECT_NE(coloured.find("\x1b[92msystem cmd:true\r\n\x1b[0m"), std::string::npos) << coloured;
  std::string plain = command_output("NO_COLOR=1 " + command);
  EXPECT_NE(plain.find("system cmd:true"), std::string::npos) << plain;
  EXPECT_EQ(plain.find("\x1b["), std::string::npos) << plain;
}

}  // namespace
