// The platform on Windows: console text attributes for the colours, a
// one-key pause read from the console, cmd.exe for shell commands, Sleep.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

// The two output streams the platform prints to.
enum class ConsoleStream { kOutput, kError };

// The console calls of the Windows platform, so that a test can record what
// the platform asks of the console. The real one is system_console().
class WindowsConsole {
 public:
  virtual ~WindowsConsole() = default;
  // Whether the stream (standard input) is a console rather than a file or pipe.
  virtual bool is_console(ConsoleStream stream) = 0;
  virtual bool input_is_console() = 0;
  // The text attributes of the console of the stream.
  virtual uint16_t attributes(ConsoleStream stream) = 0;
  virtual void set_attributes(ConsoleStream stream, uint16_t attributes) = 0;
  // Writes the bytes to the stream and flushes them; before standard error
  // is written, what standard output still holds goes out.
  virtual void write(ConsoleStream stream, std::string_view text) = 0;
  // Waits for one key pressed on the console; nothing is echoed. Returns
  // false when the key was Ctrl-C, which the console hands over as a key
  // while it waits for one.
  virtual bool read_key() = 0;
  // On Ctrl-C, Ctrl-Break or a closed console window, sets these attributes
  // on the stream's console again before the process ends.
  virtual void restore_on_interrupt(ConsoleStream stream, uint16_t attributes) = 0;
  // Ends the process as Ctrl-C ends a console program (exit status
  // STATUS_CONTROL_C_EXIT), after the attributes registered above are back.
  virtual void stop_interrupted() = 0;
};

// The console of this process.
WindowsConsole& system_console();

class WindowsPlatform : public Platform {
 public:
  // Colours are used on a stream that is a console, when no_color (the
  // environment's NO_COLOR is set and not empty) is false. The console's own
  // attributes are read once here: every coloured print, and an interrupt,
  // puts them back.
  WindowsPlatform(WindowsConsole& console, bool no_color);

  void print(int colour, std::string_view text) override;
  void print_error(int colour, std::string_view text) override;
  void pause() override;
  int shell(const char* command) override;
  void sleep_ms(uint32_t ms) override;
  InputResult read_number(int* value) override;

 private:
  struct Stream {
    bool colours = false;
    uint16_t own_attributes = 0;
  };
  void print_to(ConsoleStream stream, const Stream& how, int colour, std::string_view text);

  WindowsConsole& console_;
  Stream output_;
  Stream error_;
};
