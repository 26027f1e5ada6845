// The platform on Windows: console text attributes for the colours, a
// one-key pause read from the console, cmd.exe for shell commands, Sleep.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/platform.h"

// The console calls of the Windows platform, so that a test can record what
// the platform asks of the console. The real one is system_console().
class WindowsConsole {
 public:
  virtual ~WindowsConsole() = default;
  // Whether standard output (input) is a console rather than a file or pipe.
  virtual bool output_is_console() = 0;
  virtual bool input_is_console() = 0;
  // The text attributes of the console of standard output.
  virtual uint16_t attributes() = 0;
  virtual void set_attributes(uint16_t attributes) = 0;
  // Writes the bytes to standard output and flushes them.
  virtual void write(std::string_view text) = 0;
  // Waits for one key pressed on the console; nothing is echoed.
  virtual void read_key() = 0;
  // On Ctrl-C, Ctrl-Break or a closed console window, sets these attributes
  // again before the process ends.
  virtual void restore_on_interrupt(uint16_t attributes) = 0;
};

// The console of this process.
WindowsConsole& system_console();

class WindowsPlatform : public Platform {
 public:
  // Colours are used when standard output is a console and no_color (the
  // environment's NO_COLOR is set and not empty) is false. The console's own
  // attributes are read once here: every coloured print, and an interrupt,
  // puts them back.
  WindowsPlatform(WindowsConsole& console, bool no_color);

  void print(int colour, std::string_view text) override;
  void pause() override;
  int shell(const char* command) override;
  void sleep_ms(uint32_t ms) override;
  InputResult read_number(int* value) override;

 private:
  WindowsConsole& console_;
  bool colours_;
  uint16_t own_attributes_ = 0;
};
