// The platform on POSIX systems: ANSI colours on a terminal, /bin/sh for
// shell commands, a one-key pause on a terminal and none otherwise. A
// SIGINT, SIGTERM or SIGHUP during the pause puts the terminal back as it
// was (echo and line mode on) before the process ends as the signal ends it.
#pragma once

#include <cstdio>

#include "platform/platform.h"

class PosixPlatform : public Platform {
 public:
  // Colours are used on a stream that is a terminal, when NO_COLOR is not set.
  PosixPlatform();

  void print(int colour, std::string_view text) override;
  void print_error(int colour, std::string_view text) override;
  void pause() override;
  int shell(const char* command) override;
  void sleep_ms(uint32_t ms) override;
  InputResult read_number(int* value) override;

 private:
  bool colours_;        // standard output
  bool error_colours_;  // standard error
};
