#include "platform/windows_platform.h"

#include <windows.h>
#include <conio.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/native.h"
#include "platform/system_platform.h"

namespace {

// Attributes the console handler puts back; it runs on a thread of its own.
std::atomic<uint16_t> g_interrupt_attributes{7};

BOOL WINAPI on_console_event(DWORD) {
  SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), g_interrupt_attributes.load());
  return FALSE;  // the system's own handling goes on: the process ends
}

bool is_console(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

class Win32Console : public WindowsConsole {
 public:
  bool output_is_console() override { return is_console(GetStdHandle(STD_OUTPUT_HANDLE)); }
  bool input_is_console() override { return is_console(GetStdHandle(STD_INPUT_HANDLE)); }

  uint16_t attributes() override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info)) return 7;
    return info.wAttributes;
  }

  void set_attributes(uint16_t attributes) override {
    fflush(stdout);  // text still buffered keeps the colour it was printed in
    SetConsoleTextAttribute(GetStdHandle(STD_OUTPUT_HANDLE), attributes);
  }

  void write(std::string_view text) override {
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
  }

  void read_key() override {
    int key = _getch();
    // A function or arrow key comes as two codes; both are taken, so the
    // second does not answer the next pause.
    if (key == 0 || key == 0xE0) _getch();
  }

  void restore_on_interrupt(uint16_t attributes) override {
    g_interrupt_attributes = attributes;
    SetConsoleCtrlHandler(on_console_event, TRUE);
  }
};

}  // namespace

WindowsConsole& system_console() {
  static Win32Console console;
  return console;
}

Platform& system_platform() {
  static WindowsPlatform platform(system_console(), !environment_variable("NO_COLOR").empty());
  return platform;
}

WindowsPlatform::WindowsPlatform(WindowsConsole& console, bool no_color)
    : console_(console), colours_(!no_color && console.output_is_console()) {
  if (colours_) {
    own_attributes_ = console_.attributes();
    console_.restore_on_interrupt(own_attributes_);
  }
}

void WindowsPlatform::print(int colour, std::string_view text) {
  bool coloured = colours_ && colour != kColourPlain;
  if (coloured) console_.set_attributes(static_cast<uint16_t>(colour));
  console_.write(text);
  if (coloured) console_.set_attributes(own_attributes_);
}

void WindowsPlatform::pause() {
  // Our own prompt rather than cmd's "pause", whose text is translated on
  // localised Windows: operators' procedures expect this one.
  console_.write("Press any key to continue . . . ");
  if (console_.input_is_console()) console_.read_key();
  console_.write("\n");
}

int WindowsPlatform::shell(const char* command) {
  fflush(stdout);
  // What system() runs: cmd.exe /c COMMAND, waited for.
  return _wsystem(wide_name(command).c_str());
}

void WindowsPlatform::sleep_ms(uint32_t ms) { Sleep(ms); }

InputResult WindowsPlatform::read_number(int* value) {
  fflush(stdout);
  return read_operator_number(stdin, value);
}
