// The demo as `make demo` runs it, and the example script on its own: the
// built program, the example files and the simulated instrument, black box.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/native.h"
#include "platform/native_path.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"

namespace {

const std::string kDemoDir = std::string(TMFLASH_BUILD_DIR) + "/demo";

std::string read_file(const std::string& path) {
  std::ifstream in(file_path(path), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A text file the simulator wrote (CR LF on Windows), with LF line ends.
std::string read_text(const std::string& path) {
  std::ifstream in(file_path(path));
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The simulator's description of the demo instrument, writing its flash to
// flash_file whenever an image is complete.
std::string demo_description(const std::string& flash_file) {
  return "flash_file = " + flash_file + "\n" + read_file(kDemoDir + "/instrument.sim");
}

// What the demo's script and package leave in flash, as their sources in
// examples/demo/ say: the script's three data commands at 0x10000, the
// package's binary image 00 .. 5F at 0x20000 and its FPGA record
// ("FPGA bitstream" and a NUL) at 0x30000. The CI's run of the release zips
// compares with the same file.
std::string demo_flash() { return read_file(std::string(TMFLASH_SOURCE_DIR) + "/tests/e2e/demo.flash"); }

// The whole of what the operator sees, byte for byte (piped: no colours, and
// the progress lines' carriage returns as they are).
TEST(Demo, RunsEveryJobKindToUpdateOk) {
  BinaryRun run = run_tmflash({"--visa=sim:instrument.sim", "demo.lst"}, "0\n", kDemoDir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.output, read_file(std::string(TMFLASH_SOURCE_DIR) + "/tests/e2e/demo.golden"));
  EXPECT_EQ(run.errors, "");  // a normal run has nothing to warn about
}

// What --check prints for the demo is what release pipelines compare: every
// job, the sections of the package with their addresses, the script's
// transfer command with the versions it accepts.
TEST(Demo, CheckOfTheDemoListShowsItsPlanAndNoFault) {
  BinaryRun run = run_tmflash({"--check", "demo.lst"}, "", kDemoDir);
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
  BinaryRun run = run_tmflash({"--visa=sim:" + description, list}, "0\n");
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

#ifdef TMFLASH_SIM_LIBRARY
// Both ways to an instrument in another form than the process: --visa=sim:FILE
// and --visa=PATH of the simulator library, loaded as a vendor's VISA is.
// The same run, and the flash holds what the package and the script carry.
TEST(Demo, BothWaysToTheSimulatorUpdateTheFlash) {
  const std::string golden = read_file(std::string(TMFLASH_SOURCE_DIR) + "/tests/e2e/demo.golden");
  for (bool library : {false, true}) {
    SCOPED_TRACE(library ? "--visa=PATH of the simulator library" : "--visa=sim:FILE");
    TempDir dir;
    std::string flash = dir.file("flash.txt");
    std::string description = dir.write("instrument.sim", demo_description(flash));
    BinaryRun run = library ? run_tmflash({std::string("--visa=") + TMFLASH_SIM_LIBRARY, "demo.lst"}, "0\n",
                                          kDemoDir, {{"TMFLASH_SIM", description}})
                            : run_tmflash({"--visa=sim:" + description, "demo.lst"}, "0\n", kDemoDir);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.output, golden);
    EXPECT_EQ(read_text(flash), demo_flash());
  }
}
#endif

// An operator's folder whose name is not ASCII ("Jörg Updates", in UTF-8 as
// the list file names it): tmflash runs in it, the list file and the
// simulator description are named with their full paths, the jobs by full
// path and relative to the folder.
TEST(Demo, RunsInAFolderWhoseNameIsNotAscii) {
  TempDir dir;
  const std::string folder = dir.file("J\xC3\xB6rg Updates");
  std::filesystem::create_directory(file_path(folder));
  for (const char* name : {"firmware.txt", "firmware.pkg"}) {
    std::ofstream(file_path(folder + "/" + name), std::ios::binary) << read_file(kDemoDir + "/" + name);
  }
  const std::string flash = folder + "/flash.txt";
  std::ofstream(file_path(folder + "/instrument.sim"), std::ios::binary) << demo_description(flash);
  std::ofstream(file_path(folder + "/update.lst"), std::ios::binary)
      << "total=2\npt0=firmware.pkg\npath1=" << folder << "/firmware.txt\n";

  // The script after the package asks for the instrument again.
  BinaryRun run = run_tmflash({"--visa=sim:" + folder + "/instrument.sim", folder + "/update.lst"}, "0\n0\n", folder);
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("file(firmware.pkg) updating...\n"), std::string::npos) << run.output;
  EXPECT_NE(run.output.find("file(" + folder + "/firmware.txt) updating...\n"), std::string::npos) << run.output;
  EXPECT_TRUE(run.output.ends_with("\nUpdate Ok\n")) << run.output;
  EXPECT_EQ(read_text(flash), demo_flash());
}

}  // namespace
