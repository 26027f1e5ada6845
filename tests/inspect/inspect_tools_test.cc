// The built tools as a user runs them: tmscript --decode, tmpack --unpack and
// --info, their help, version and exit statuses.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/run_binary.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace {

// Runs a built tool with args in dir.
BinaryRun run_tool(const std::string& tool, const std::vector<std::string>& args, const TempDir& dir) {
  return run_program(built_program(tool), args, "", dir.path());
}

std::string joined(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) text += " " + arg;
  return text;
}

#ifdef _WIN32
const std::string kSeparator = "\\";
#else
const std::string kSeparator = "/";
#endif

const std::string kDemo = std::string(TMFLASH_BUILD_DIR) + "/demo/";

TEST(InspectTools, HelpVersionAndWrongCommandLines) {
  TempDir dir;
  struct {
    const char* tool;
    std::vector<std::string> args;
    int status;
    const char* out;     // a part of standard output
    const char* errors;  // standard error, whole
  } cases[] = {
      {"tmscript", {"--help"}, 0, "  or:  tmscript --decode SCRIPT [SOURCE]\n", ""},
      {"tmscript", {"--version"}, 0, "tmscript 0.1.0\n", ""},
      {"tmscript", {"--decod", "x"}, 2, "",
       "tmscript: The following argument was not expected: --decod (see tmscript --help)\n"},
      {"tmscript", {"a"}, 2, "", "tmscript: expected SOURCE and SCRIPT (see tmscript --help)\n"},
      {"tmscript", {"--decode"}, 2, "", "tmscript: --decode takes SCRIPT and, at will, SOURCE (see tmscript --help)\n"},
      {"tmpack", {"--help"}, 0, "  or:  tmpack --info PACKAGE\n", ""},
      {"tmpack", {"--version"}, 0, "tmpack 0.1.0\n", ""},
      {"tmpack", {"a.desc"}, 2, "", "tmpack: expected DESCRIPTION and PACKAGE (see tmpack --help)\n"},
      {"tmpack", {"--unpack", "a.pkg"}, 2, "", "tmpack: --unpack takes PACKAGE and DIR (see tmpack --help)\n"},
      {"tmpack", {"--info", "a.pkg", "b"}, 2, "", "tmpack: --info takes PACKAGE (see tmpack --help)\n"},
      {"tmpack", {"--info", "--unpack", "a.pkg"}, 2, "", "tmpack: --unpack excludes --info (see tmpack --help)\n"},
      {"tmpack", {"--info", "missing.pkg"}, 1, "", "tmpack: cannot read missing.pkg\n"},
      {"tmscript", {"--decode", "missing.txt"}, 1, "", "tmscript: cannot read missing.txt\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.tool) + joined(c.args));
    BinaryRun run = run_tool(c.tool, c.args, dir);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.output.find(c.out), std::string::npos) << run.output;
    EXPECT_EQ(run.errors, c.errors);
  }
  // The help says what the exit statuses mean.
  for (const char* tool : {"tmscript", "tmpack"}) {
    EXPECT_NE(run_tool(tool, {"--help"}, dir).output.find("Exit status: 0 when done; 1 when"), std::string::npos) << tool;
  }
}

TEST(InspectTools, DecodeThenCompileGivesTheDemoScriptBack) {
  TempDir dir;
  BinaryRun run = run_tool("tmscript", {"--decode", kDemo + "firmware.txt", "fw.src"}, dir);
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.output, "");
  run = run_tool("tmscript", {"fw.src", "fw.txt"}, dir);
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(read_file(dir.file("fw.txt")), read_file(kDemo + "firmware.txt"));
  // Without SOURCE the source goes to standard output.
  run = run_tool("tmscript", {"--decode", kDemo + "firmware.txt"}, dir);
  EXPECT_EQ(run.output, read_file(dir.file("fw.src")));
}

TEST(InspectTools, DecodeOfARefusedScriptNamesItsFaultsAndExitsOne) {
  TempDir dir;
  dir.write("bad.txt", "&e@00001000$\n&d#DEADBEE$\n");
  BinaryRun run = run_tool("tmscript", {"--decode", "bad.txt"}, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("@# line 2: fault [Corrupted Update File. (2)]"), std::string::npos) << run.output;
  EXPECT_EQ(run.errors, "tmscript: bad.txt: 1 fault(s): the updater would refuse this script; the notes name them\n");
}

TEST(InspectTools, UnpackThenPackGivesTheDemoPackageBack) {
  TempDir dir;
  BinaryRun run = run_tool("tmpack", {"--unpack", kDemo + "firmware.pkg", "parts"}, dir);
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.output, "parts" + kSeparator + "firmware.section1.bin\nparts" + kSeparator + "firmware.desc\n");
  EXPECT_EQ(run.errors, "");
  run = run_tool("tmpack", {"parts/firmware.desc", "again.pkg"}, dir);
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(read_file(dir.file("again.pkg")), read_file(kDemo + "firmware.pkg"));
}

TEST(InspectTools, UnpackOfARefusedPackageSaysHowToBuildItAgain) {
  TempDir dir;
  std::string pkg = read_file(kDemo + "firmware.pkg");
  pkg[2106] = 1;  // section 2's first record length: 1
  dir.write("bad.pkg", pkg);
  BinaryRun run = run_tool("tmpack", {"--unpack", "bad.pkg", "parts"}, dir);
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.errors,
            "tmpack: bad.pkg: the updater would refuse this package (tmpack --info says why); build it again with "
            "--allow-refused\n");
  run = run_tool("tmpack", {"--allow-refused", "parts/bad.desc", "again.pkg"}, dir);
  ASSERT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(read_file(dir.file("again.pkg")), pkg);

  run = run_tool("tmpack", {"--info", "bad.pkg"}, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("bad.pkg: byte 2106: fault [Corrupted Update File. (10-2)]: section 2: framed record 1 has "
                         "length 1, outside 2 .. 256\n"),
            std::string::npos)
      << run.output;
}

}  // namespace
