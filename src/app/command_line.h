// The command line of tmflash:
//   tmflash [OPTIONS] LIST_FILE [ignored...]
//   tmflash --help | --version
// Options come before LIST_FILE; everything after it is ignored, so that
// operators' batch files that pass more arguments keep working. --visa=LIB
// and --visa LIB are the same (likewise every option with a value).
#pragma once

#include <optional>
#include <string>

struct CommandLine {
  enum Action { kRun, kHelp, kVersion, kError };
  Action action = kRun;
  std::optional<std::string> list_file;  // absent: "parameters error"
  std::string error;                     // kError: what was wrong

  std::string visa;    // --visa value; empty when not given
  int select = -1;     // --select=N; -1 when not given
  std::string serial;  // --serial=SN
  std::string log;     // --log=FILE: appended
  std::string report;  // --report=FILE: the outcome as JSON
  std::string trace;   // --trace=FILE: every VISA call as JSON lines
  bool no_pause = false;
  bool check = false;  // --check: check LIST_FILE and what it names, run nothing
  bool strict = false;     // --strict: refuse update files that cannot be verified
  bool no_verify = false;  // --no-verify: do not check scripts' checksum lines
  // --all: one child run per instrument found, pinned by its serial number.
  bool all = false;
  int jobs = 0;         // -j N: at most N children at once; 0: all at once
  std::string log_dir;  // --log-dir=DIR: the children's logs in DIR
};

CommandLine parse_command_line(int argc, const char* const* argv);

// The text of --help, generated from the options themselves.
std::string usage_text();
