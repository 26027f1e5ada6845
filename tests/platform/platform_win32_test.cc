// The Windows platform layer: what it asks of the console (through the
// WindowsConsole seam), and names that are not ASCII at the system's edge.
#include <windows.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "driver/runner.h"
#include "platform/native.h"
#include "platform/native_path.h"
#include "platform/regular_file.h"
#include "platform/windows_platform.h"
#include "support/temp_dir.h"
#include "driver/updater.h"

namespace {

// Records every console call, one per line; "err" marks standard error.
class FakeConsole : public WindowsConsole {
 public:
  bool console_output = true;
  bool console_error = true;
  bool console_input = true;
  bool ctrl_c = false;             // the key read is Ctrl-C
  uint16_t own_attributes = 0x1F;  // white on blue: not the default 7
  uint16_t own_error_attributes = 0x1E;
  std::string calls;

  bool is_console(ConsoleStream s) override { return s == ConsoleStream::kOutput ? console_output : console_error; }
  bool input_is_console() override { return console_input; }
  uint16_t attributes(ConsoleStream s) override {
    return s == ConsoleStream::kOutput ? own_attributes : own_error_attributes;
  }
  void set_attributes(ConsoleStream s, uint16_t attributes) override {
    calls += mark(s) + "attributes " + std::to_string(attributes) + "\n";
  }
  void write(ConsoleStream s, std::string_view text) override {
    calls += mark(s) + "write \"" + std::string(text) + "\"\n";
  }
  bool read_key() override {
    calls += ctrl_c ? "key Ctrl-C\n" : "key\n";
    return !ctrl_c;
  }
  void restore_on_interrupt(ConsoleStream s, uint16_t attributes) override {
    calls += mark(s) + "on interrupt " + std::to_string(attributes) + "\n";
  }
  void stop_interrupted() override { calls += "stop as interrupted\n"; }

 private:
  static std::string mark(ConsoleStream s) { return s == ConsoleStream::kError ? "err " : ""; }
};

TEST(WindowsPlatform, OnAConsoleEachColouredPrintSetsItsAttributeAndPutsTheConsolesOwnBack) {
  FakeConsole console;
  WindowsPlatform os(console, false);
  // Ctrl-C puts the console's own attributes back too.
  EXPECT_EQ(console.calls, "on interrupt 31\nerr on interrupt 30\n");
  console.calls.clear();
  os.print(kColourRed, "Update file is not complete. (1)\n");
  os.print(kColourPlain, "update...50.00%\r");
  os.print(kColourMagenta, " 0:USB0::1::2::3::INSTR\n");
  os.print_error(kColourYellow, "tmflash: a.lst:2: warning\n");
  EXPECT_EQ(console.calls,
            "attributes 12\n"
            "write \"Update file is not complete. (1)\n\"\n"
            "attributes 31\n"
            "write \"update...50.00%\r\"\n"
            "attributes 13\n"
            "write \" 0:USB0::1::2::3::INSTR\n\"\n"
            "attributes 31\n"
            "err attributes 14\n"
            "err write \"tmflash: a.lst:2: warning\n\"\n"
            "err attributes 30\n");
}

// Each stream is coloured only when it is itself a console: output piped
// to a file keeps the warnings yellow on the console, and the other way round.
TEST(WindowsPlatform, RedirectedStreamsOrNoColorLeaveTheAttributesAlone) {
  struct {
    const char* name;
    bool output_console, error_console, no_color;
    const char* calls;
  } cases[] = {
      {"output redirected", false, true, false,
       "err on interrupt 30\nwrite \"system cmd:dir\n\"\nerr attributes 14\nerr write \"note\n\"\nerr attributes 30\n"},
      {"error redirected", true, false, false,
       "on interrupt 31\nattributes 10\nwrite \"system cmd:dir\n\"\nattributes 31\nerr write \"note\n\"\n"},
      {"both redirected", false, false, false, "write \"system cmd:dir\n\"\nerr write \"note\n\"\n"},
      {"NO_COLOR", true, true, true, "write \"system cmd:dir\n\"\nerr write \"note\n\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeConsole console;
    console.console_output = c.output_console;
    console.console_error = c.error_console;
    WindowsPlatform os(console, c.no_color);
    os.print(kColourGreen, "system cmd:dir\n");
    os.print_error(kColourYellow, "note\n");
    EXPECT_EQ(console.calls, c.calls);
  }
}

// A whole run: the list's messages come out in the attributes they ask for,
// tmflash's own warnings on standard error in yellow.
TEST(WindowsPlatform, ARunPrintsItsMessagesInTheirAttributes) {
  FakeConsole console;
  console.own_attributes = 7;
  console.own_error_attributes = 7;
  WindowsPlatform os(console, false);
  TempDir dir;
  std::string list = dir.write("delay.lst", "total=1\nfoo0=x\nscmd0=DELAY 1\n");
  Updater u(os);
  const char* argv[] = {"tmflash", list.c_str()};
  console.calls.clear();
  EXPECT_EQ(updater_main(u, 2, argv), 0);
  EXPECT_EQ(console.calls,
            "err attributes 14\n"
            "err write \"tmflash: " + list + ":2: warning: unknown key \"foo0\"; the line is ignored\n\"\n"
            "err attributes 7\n"
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

// The console hands Ctrl-C to the waiting pause as a key; it stops the run
// as it would stop cmd's pause, rather than answering it.
TEST(WindowsPlatform, CtrlCAtThePauseStopsTheRun) {
  FakeConsole console;
  console.ctrl_c = true;
  WindowsPlatform os(console, false);
  console.calls.clear();
  os.pause();
  EXPECT_EQ(console.calls.rfind("write \"Press any key to continue . . . \"\nkey Ctrl-C\nstop as interrupted\n", 0), 0u)
      << console.calls;
}

// Under CTest standard output and input are pipes or files, never a console.
TEST(WindowsPlatform, TheRealConsoleSeesRedirectedStreams) {
  EXPECT_FALSE(system_console().is_console(ConsoleStream::kOutput));
  EXPECT_FALSE(system_console().is_console(ConsoleStream::kError));
  EXPECT_FALSE(system_console().input_is_console());
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

// What a run must refuse to read, Windows' kinds: a folder and the NUL
// device, each named; a file in a folder with a non-ASCII name opens.
TEST(WindowsFiles, OnlyRegularFilesOpenForReading) {
  TempDir dir;
  const std::string folder = dir.file("J\xC3\xB6rg");
  ASSERT_TRUE(CreateDirectoryW(wide_name(folder).c_str(), nullptr));
  FileRefusal why;
  EXPECT_EQ(open_regular_file(folder.c_str(), &why), nullptr);
  EXPECT_EQ(why.kind, FileKind::kDirectory);
  EXPECT_STREQ(refusal_text(why), "a folder, not a regular file");
  EXPECT_EQ(open_regular_file("NUL", &why), nullptr);
  EXPECT_EQ(why.kind, FileKind::kCharacterDevice);
  EXPECT_STREQ(refusal_text(why), "a character device, not a regular file");
  EXPECT_EQ(open_regular_file((folder + "/absent.lst").c_str(), &why), nullptr);
  EXPECT_EQ(why.kind, FileKind::kRegular);
  EXPECT_EQ(why.error, ENOENT);

  const std::string file = folder + "/update.lst";
  FILE* out = open_file(file.c_str(), "wb");
  ASSERT_NE(out, nullptr);
  fputs("total=0\n", out);
  fclose(out);
  FILE* in = open_regular_file(file.c_str(), &why);
  ASSERT_NE(in, nullptr);
  char text[16] = {};
  EXPECT_EQ(fread(text, 1, sizeof text - 1, in), 8u);
  fclose(in);
  EXPECT_STREQ(text, "total=0\n");
}

}  // namespace
