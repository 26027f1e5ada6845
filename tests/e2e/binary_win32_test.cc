// The built tmflash.exe, black box, in what only Windows has: console text
// written in text mode, and list files saved in the ANSI code page.
#include <windows.h>

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

// Lines end in CR LF, as every Windows console program's do; a pipe gets no
// colour codes of any kind (the colours are console attributes).
TEST(BinaryWindows, PipedOutputIsPlainTextWithCrLfLineEnds) {
  TempDir dir;
  std::string list = dir.write("jobs.lst", "total=2\nscmd0=echo first\nmcmd1=*RST\n");
  BinaryRun run = run_tmflash({"--visa=sim", list}, "0\n");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_EQ(run.raw,
            "system cmd:echo first\r\nfirst\r\n"
            "machine cmd:*RST\r\n"
            "USB:LIST\r\n 0:USB0::0x1234::0x5678::SIM0001::INSTR\r\n 1:Search again\r\n"
            "please select:select 0:USB0::0x1234::0x5678::SIM0001::INSTR\r\n"
            "\r\nUpdate Ok\r\n");
}

// A list file saved in the ANSI code page (as Notepad saved them for years)
// names a script in a folder whose name is not ASCII; it opens all the same.
TEST(BinaryWindows, AListFileInTheAnsiCodePageOpensItsJobs) {
  TempDir dir;
  const std::string folder = dir.file("J\xC3\xB6rg Updates");  // UTF-8
  std::filesystem::create_directory(file_path(folder));
  std::ifstream script(file_path(kDemoDir + "/firmware.txt"), std::ios::binary);
  std::ofstream(file_path(folder + "/firmware.txt"), std::ios::binary) << script.rdbuf();

  std::wstring wide = wide_name(folder + "/firmware.txt");
  char ansi[MAX_PATH];
  BOOL lossy = FALSE;
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi, sizeof ansi, nullptr, &lossy);
  if (n <= 0 || lossy) GTEST_SKIP() << "the ANSI code page " << GetACP() << " has no \u00F6";
  if (GetACP() != CP_UTF8) {
    ASSERT_EQ(std::string(ansi).find("\xC3\xB6"), std::string::npos) << "not the ANSI form";
  }
  std::string list = dir.write("ansi.lst", std::string("total=1\npath0=") + ansi + "\n");

  BinaryRun run = run_tmflash({"--visa=sim", list}, "0\n");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.raw.find(std::string("file(") + ansi + ") updating...\r\n"), std::string::npos) << run.output;
  EXPECT_TRUE(run.output.ends_with("\nUpdate Ok\n")) << run.output;
}

}  // namespace
