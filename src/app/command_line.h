// The command line of tmflash:
//   tmflash [--visa=LIB | --visa LIB] [--check] LIST_FILE [ignored...]
//   tmflash --help | --version
// Options come before LIST_FILE; everything after it is ignored.
#pragma once

#include <string>

struct CommandLine {
  enum Action { kRun, kHelp, kVersion, kError };
  Action action = kRun;
  std::string visa;         // --visa value; empty when not given
  bool check = false;       // --check: check LIST_FILE and what it names, run nothing
  int list_arg = -1;        // argv index of LIST_FILE, -1 when there is none
  std::string error;        // kError: what was wrong
};

CommandLine parse_command_line(int argc, const char* const* argv);

// The text of --help.
const char* usage_text();
