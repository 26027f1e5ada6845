// The Windows platform layer: what it asks of the console (through the
// WindowsConsole seam), and names that are not ASCII at the system's edge.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "driver/runner.h"
#include "platform/native.h"
#include "platform/native_path.h"
#include "platform/windows_platform.h"
#include "support/temp_dir.h"
#include "driver/updater.h"

namespace {

// Records every console call, one per line.
class FakeConsole : public WindowsConsole {
 public:
  bool console_output = true;
  bool console_input = true;
  uint16_t own_attributes = 0x1F;  // white on blue: not the default 7
  std::string calls;

  bool output_is_console() override { return console_output; }
  bool input_is_console() override { return console_input; }
  uint16_t attributes() override { return own_attributes; }
  void set_attributes(uint16_t attributes) override { calls += "attributes " + std::to_string(attributes) + "\n"; }
  void write(std::string_view text) override { calls += "write \"" + std::string(text) + "\"\n"; }
  void read_key() override { calls += "key\n"; }
  void restore_on_interrupt(uint16_t attributes) override {
    calls += "on interrupt " + std::to_string(attributes) + "\n";
  }
};

TEST(WindowsPlatform, OnAConsoleEachColouredPrintSetsItsAttributeAndPutsTheConsolesOwnBack) {
  FakeConsole console;
  WindowsPlatform os(console, false);
  EXPECT_EQ(console.calls, "on interrupt 31\n");  // Ctrl-C puts the console's own attributes back too
  console.calls.clear();
  os.print(kColourRed, "Update file is not complete. (1)\n");
  os.print(kColourPlain, "update...50.00%\r");
  os.print(kColourMagenta, " 0:USB0::1::2::3::INSTR\n");
  EXPECT_EQ(console.calls,
            "attributes 12\n"
            "write \"Update file is not complete. (1)\n\"\n"
            "attributes 31\n"
            "write \"update...50.00%\r\"\n"
            "attributes 13\n"
            "write \" 0:USB0::1::2::3::INSTR\n\"\n"
            "attributes 31\n");
}

TEST(WindowsPlatform, RedirectedOutputOrNoColorLeavesTheAttributesAlone) {
  FakeConsole redirected;
  redirected.console_output = false;
  FakeConsole no_color;
  for (auto [console, flag] : {std::pair{&redirected, false}, std::pair{&no_color, true}}) {
    WindowsPlatform os(*console, flag);
    os.print(kColourGreen, "system cmd:dir\n");
    EXPECT_EQ(console->calls, "write \"system cmd:dir\n\"\n");
  }
}

// A whole run: the list's messages come out in the attributes they ask for.
TEST(WindowsPlatform, ARunPrintsItsMessagesInTheirAttributes) {
  FakeConsole console;
  console.own_attributes = 7;
  WindowsPlatform os(console, false);
  TempDir dir;
  std::string list = dir.write("delay.lst", "total=1\nscmd0=DELAY 1\n");
  Updater u(os);
  const char* argv[] = {"tmflash", list.c_str()};
  console.calls.clear();
  EXPECT_EQ(updater_main(u, 2, argv), 0);
  EXPECT_EQ(console.calls,
            "attributes 10\n"
            "write \"system cmd:DELAY 1\n\"\n"
            "attributes 7\n"
            "write \"\nUpdate Ok\n\"\n");
}

TEST(WindowsPlatform, PauseWaitsForOneKeyOnlyWhenInputIsAConsole) {
  FakeConsole console;
  WindowsPlatform os(console, false);
  console.calls.clear();
  os.pause();
  EXPECT_EQ(console.calls, "write \"Press any key to continue . . . \"\nkey\nwrite \"\n\"\n");
  console.calls.clear();
  console.console_input = false;
  os.pause();
  EXPECT_EQ(console.calls, "write \"Press any key to continue . . . \"\nwrite \"\n\"\n");
}

// Under CTest standard output and input are pipes or files, never a console.
TEST(WindowsPlatform, TheRealConsoleSeesRedirectedStreams) {
  EXPECT_FALSE(system_console().output_is_console());
}

TEST(WindowsPlatform, ShellCommandsRunThroughCmdAndGiveTheirExitStatus) {
  FakeConsole console;
  WindowsPlatform os(console, true);
  TempDir dir;
  std::string marker = dir.file("ran.txt");
  for (char& c : marker) c = c == '/' ? '\\' : c;  // cmd's own commands want backslashes
  EXPECT_EQ(os.shell(("echo ran> \"" + marker + "\"").c_str()), 0);
  FILE* f = open_file(marker.c_str(), "rb");
  ASSERT_NE(f, nullptr) << "cmd did not run: " << marker;
  char text[16] = {};
  fread(text, 1, sizeof text - 1, f);
  fclose(f);
  EXPECT_STREQ(text, "ran\r\n");
  EXPECT_EQ(os.shell("exit 3"), 3);
}

// A name written in UTF-8 and the same name in the ANSI code page (as list
// files saved by older Notepad have it) open the same file.
TEST(WindowsNames, UTF8AndTheAnsiCodePageOpenTheSameFile) {
  TempDir dir;
  const std::string folder = dir.file("J\xC3\xB6rg Updates");  // "Jörg Updates" in UTF-8
  ASSERT_TRUE(CreateDirectoryW(wide_name(folder).c_str(), nullptr));
  const std::string utf8 = folder + "/fw.txt";
  FILE* out = open_file(utf8.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  fputs("firmware", out);
  fclose(out);
  // The system sees the name as the operator wrote it.
  EXPECT_NE(GetFileAttributesW((wide_name(dir.path()) + L"/J\u00F6rg Updates/fw.txt").c_str()),
            INVALID_FILE_ATTRIBUTES);

  char ansi[MAX_PATH];
  BOOL lossy = FALSE;
  std::wstring wide = wide_name(utf8);
  int n = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi, sizeof ansi, nullptr, &lossy);
  if (n <= 0 || lossy) GTEST_SKIP() << "the ANSI code page " << GetACP() << " has no \u00F6";
  FILE* in = open_file(ansi, "rb");
  ASSERT_NE(in, nullptr) << "code page " << GetACP();
  char text[16] = {};
  fread(text, 1, sizeof text - 1, in);
  fclose(in);
  EXPECT_STREQ(text, "firmware");
  EXPECT_EQ(name_of(file_path(utf8)), utf8);
}

}  // namespace
