#include "platform/windows_platform.h"

#include <windows.h>
#include <conio.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "platform/native.h"
#include "platform/system_platform.h"

namespace {

constexpr int kCtrlC = 3;  // what _getch reads for Ctrl-C

// Attributes the console handler puts back, per stream; it runs on a thread
// of its own. Negative: the stream is not a console of ours to restore.
std::atomic<int> g_interrupt_attributes[2] = {-1, -1};

DWORD std_handle_id(ConsoleStream stream) {
  return stream == ConsoleStream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
}

FILE* std_file(ConsoleStream stream) { return stream == ConsoleStream::kOutput ? stdout : stderr; }

void restore_registered_attributes() {
  for (ConsoleStream stream : {ConsoleStream::kOutput, ConsoleStream::kError}) {
    int attributes = g_interrupt_attributes[static_cast<int>(stream)].load();
    if (attributes >= 0) SetConsoleTextAttribute(GetStdHandle(std_handle_id(stream)), static_cast<WORD>(attributes));
  }
}

BOOL WINAPI on_console_event(DWORD) {
  restore_registered_attributes();
  return FALSE;  // the system's own handling goes on: the process ends
}

bool is_console_handle(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

class Win32Console : public WindowsConsole {
 public:
  bool is_console(ConsoleStream stream) override { return is_console_handle(GetStdHandle(std_handle_id(stream))); }
  bool input_is_console() override { return is_console_handle(GetStdHandle(STD_INPUT_HANDLE)); }

  uint16_t attributes(ConsoleStream stream) override {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(std_handle_id(stream)), &info)) return 7;
    return info.wAttributes;
  }

  void set_attributes(ConsoleStream stream, uint16_t attributes) override {
    fflush(std_file(stream));  // text still buffered keeps the colour it was printed in
    SetConsoleTextAttribute(GetStdHandle(std_handle_id(stream)), attributes);
  }

  void write(ConsoleStream stream, std::string_view text) override {
    if (stream == ConsoleStream::kError) fflush(stdout);
    FILE* file = std_file(stream);
    fwrite(text.data(), 1, text.size(), file);
    fflush(file);
  }

  bool read_key() override {
    int key = _getch();
    // A function or arrow key comes as two codes; both are taken, so the
    // second does not answer the next pause.
    if (key == 0 || key == 0xE0) _getch();
    return key != kCtrlC;
  }

  void restore_on_interrupt(ConsoleStream stream, uint16_t attributes) override {
    g_interrupt_attributes[static_cast<int>(stream)] = attributes;
    SetConsoleCtrlHandler(on_console_event, TRUE);
  }

  void stop_interrupted() override {
    fflush(stdout);
    restore_registered_attributes();
    ExitProcess(static_cast<UINT>(STATUS_CONTROL_C_EXIT));
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

WindowsPlatform::WindowsPlatform(WindowsConsole& console, bool no_color) : console_(console) {
  for (auto [stream, how] : {std::pair{ConsoleStream::kOutput, &output_}, std::pair{ConsoleStream::kError, &error_}}) {
    how->colours = !no_color && console_.is_console(stream);
    if (!how->colours) continue;
    how->own_attributes = console_.attributes(stream);
    console_.restore_on_interrupt(stream, how->own_attributes);
  }
}

void WindowsPlatform::print_to(ConsoleStream stream, const Stream& how, int colour, std::string_view text) {
  bool coloured = how.colours && colour != kColourPlain;
  if (coloured) console_.set_attributes(stream, static_cast<uint16_t>(colour));
  console_.write(stream, text);
  if (coloured) console_.set_attributes(stream, how.own_attributes);
}

void WindowsPlatform::print(int colour, std::string_view text) {
  print_to(ConsoleStream::kOutput, output_, colour, text);
}

void WindowsPlatform::print_error(int colour, std::string_view text) {
  print_to(ConsoleStream::kError, error_, colour, text);
}

void WindowsPlatform::pause() {
  // Our own prompt rather than cmd's "pause", whose text is translated on
  // localised Windows: operators' procedures expect this one.
  console_.write(ConsoleStream::kOutput, "Press any key to continue . . . ");
  // Ctrl-C at the pause stops the run, as it does at cmd's "pause".
  if (console_.input_is_console() && !console_.read_key()) console_.stop_interrupted();
  console_.write(ConsoleStream::kOutput, "\n");
}

int WindowsPlatform::shell(const char* command) {
  fflush(stdout);
  // What system() runs: cmd.exe /c COMMAND, waited for.
  return _wsystem(wide_name(command).c_str());
}

void WindowsPlatform::sleep_ms(uint32_t ms) { Sleep(ms); }

InputResult WindowsPlatform::read_number(int* value) {
  fflush(stdout);
  return read_operator_answer(stdin, value);
}
