// The console of a run with a log: every print, pause, shell command and
// operator answer goes to the real platform and is also told to a sink (the
// run's recorder). With no_pause the operator pause shows its prompt and
// goes on without waiting, on a terminal too, for stations where a console
// stays open unattended.
#pragma once

#include <string_view>

#include "platform/platform.h"

// What the console tee tells of the console.
class ConsoleSink {
 public:
  virtual ~ConsoleSink() = default;
  // Text printed in colour (kColourPlain: plain), as the program printed it.
  virtual void console_print(int colour, std::string_view text) = 0;
  // The operator pause, after its prompt.
  virtual void console_pause() = 0;
  // A shell command ended with status.
  virtual void console_shell(const char* command, int status) = 0;
  // The operator answered the instrument list (value is valid for kNumber).
  virtual void console_input(InputResult result, int value) = 0;
};

class ConsoleTee : public Platform {
 public:
  ConsoleTee(Platform& inner, bool no_pause) : inner_(inner), no_pause_(no_pause) {}

  // Where the console is told to; nullptr: nowhere.
  void set_sink(ConsoleSink* sink) { sink_ = sink; }

  void print(int colour, std::string_view text) override;
  // tmflash's own warnings: on standard error, and in the log beside the
  // console text, where whoever reads the log after a run needs them too.
  void print_error(int colour, std::string_view text) override;
  void pause() override;
  int shell(const char* command) override;
  void sleep_ms(uint32_t ms) override { inner_.sleep_ms(ms); }
  InputResult read_number(int* value) override;

 private:
  Platform& inner_;
  bool no_pause_;
  ConsoleSink* sink_ = nullptr;
};
