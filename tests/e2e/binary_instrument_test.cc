// The built program against simulated instruments, black box: through
// --visa=sim:FILE, and through the library loader with the simulator library.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kExamples = std::string(TMFLASH_SOURCE_DIR) + "/examples";
const std::string kMain = "USB0::0x1234::0x5678::SIM0001::INSTR";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

const std::string kMachineRun =
    "machine cmd::SYST:BEEP\n"
    "USB:LIST\n"
    " 0:" + kMain + "\n"
    " 1:Search again\n"
    "please select:select 0:" + kMain + "\n"
    "\nUpdate Ok\n";

TEST(BinaryInstrument, MachineCommandThroughSimFile) {
  TempDir dir;
  std::string list = dir.write("m.lst", "total=1\nmcmd0=:SYST:BEEP\n");
  BinaryRun run = run_tmflash("--visa=sim:" + kExamples + "/sim/default.sim '" + list + "'", "0\n");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, kMachineRun);
}

#ifdef TMFLASH_SIM_LIBRARY
TEST(BinaryInstrument, MachineCommandThroughTheLoaderAndTheSimulatorLibrary) {
  TempDir dir;
  std::string transcript = dir.file("calls.txt");
  std::string description = dir.write("one.sim", "transcript = " + transcript +
                                                     "\n[instrument]\nmain = " + kMain + "\n");
  std::string list = dir.write("m.lst", "total=1\nmcmd0=:SYST:BEEP\n");
  BinaryRun run = run_tmflash(std::string("--visa=") + TMFLASH_SIM_LIBRARY + " '" + list + "'", "0\n", "",
                              "TMFLASH_SIM='" + description + "' ");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.output, kMachineRun);
  // The text went out unchanged, and nothing was read.
  std::string calls = read_file(transcript);
  EXPECT_NE(calls.find("viWrite vi=") , std::string::npos) << calls;
  EXPECT_NE(calls.find("\":SYST:BEEP\" -> VI_SUCCESS count=10"), std::string::npos) << calls;
  EXPECT_EQ(calls.find("viRead"), std::string::npos) << calls;
}
#endif

// The simulator named with --visa is loaded before any job: a bad
// description stops the run before the shell job before it.
TEST(BinaryInstrument, BadSimFileIsReportedBeforeAnyJob) {
  TempDir dir;
  std::string description = dir.write("bad.sim", "[instrument]\nmain = USB0::1::2::3::INSTR\nbogus = 1\n");
  std::string list = dir.write("m.lst", "total=2\nscmd0=echo shell first\nmcmd1=*RST\n");
  BinaryRun run = run_tmflash("--visa=sim:" + description + " '" + list + "'");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output.rfind("VISA is not available: " + description + ":3: ", 0), 0u) << run.output;
  EXPECT_EQ(run.output.find("shell first"), std::string::npos) << run.output;
}

}  // namespace
