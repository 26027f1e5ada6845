// The platform on POSIX systems: ANSI colours on a terminal, /bin/sh for
// shell commands, a one-key pause on a terminal and none otherwise.
#pragma once

#include <cstdio>

#include "platform/platform.h"

class PosixPlatform : public Platform {
 public:
  // Colours are used when stdout is a terminal and NO_COLOR is not set.
  PosixPlatform();

  void print(int colour, std::string_view text) override;
  void pause() override;
  int shell(const char* command) override;
  void sleep_ms(uint32_t ms) override;
  InputResult read_number(int* value) override;

 private:
  bool colours_;
};
