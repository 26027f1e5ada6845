// The demo as `make demo` runs it, and the example script on its own: the
// built program, the example files and the simulated instrument, black box.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kDemoDir = std::string(TMFLASH_BUILD_DIR) + "/demo";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The whole of what the operator sees, byte for byte (piped: no colours, and
// the progress lines' carriage returns as they are).
TEST(Demo, RunsEveryJobKindToUpdateOk) {
  BinaryRun run = run_tmflash("--visa=sim:instrument.sim demo.lst", "0\n", kDemoDir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, read_file(std::string(TMFLASH_SOURCE_DIR) + "/tests/e2e/demo.golden"));
  EXPECT_EQ(run.errors, "");  // a normal run has nothing to warn about
}

// What --check prints for the demo is what release pipelines compare: every
// job, the sections of the package with their addresses, the script's
// transfer command with the versions it accepts.
TEST(Demo, CheckOfTheDemoListShowsItsPlanAndNoFault) {
  BinaryRun run = run_tmflash("--check demo.lst", "", kDemoDir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, read_file(std::string(TMFLASH_SOURCE_DIR) + "/tests/e2e/demo_check.golden"));
  EXPECT_EQ(run.errors, "");
}

TEST(Demo, ExampleScriptRunsAgainstTheDefaultSimulatedInstrument) {
  TempDir dir;
  std::string transcript = dir.file("calls.txt");
  std::string description =
      dir.write("default.sim", "transcript = " + transcript + "\n" +
                                   read_file(std::string(TMFLASH_SOURCE_DIR) + "/examples/sim/default.sim"));
  std::string list = dir.write("script.lst", "total=1\npath0=" + kDemoDir + "/firmware.txt\n");
  BinaryRun run = run_tmflash("--visa=sim:" + description + " " + list, "0\n");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(run.output.ends_with("update...100.00%\r\nUpdate Ok\n")) << run.output;
  EXPECT_NE(run.output.find("main *IDN = TMSIM,TM1000,SIM0001,1.03\n"), std::string::npos);
  EXPECT_NE(run.output.find("Bootloader version=2.05#0#HW3\n"), std::string::npos);
  // The data went out behind the script's command header, as quoted text.
  std::string calls = read_file(transcript);
  EXPECT_NE(calls.find("\":FW:UPD \\\"&d#00112233445566778899AABBCCDDEEFF$\\\"\" -> VI_SUCCESS"),
            std::string::npos)
      << calls;
  EXPECT_NE(calls.find("\":FW:UPD \\\"&x$\\\"\" -> VI_SUCCESS"), std::string::npos);
}

}  // namespace
