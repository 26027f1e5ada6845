// Runs the built tmflash program as an operator would, for black-box tests.
#pragma once

#include <string>

struct BinaryRun {
  int status = -1;     // exit status; -1 when the program did not exit normally
  std::string output;  // standard output: what operators' procedures compare
  std::string errors;  // standard error: tmflash's own warnings and notes
};

// Runs "tmflash ARGS" in the shell with stdin read from stdin_text (a pipe,
// never a terminal), in the working directory cwd (empty: unchanged).
// extra_env is prepended to the command, e.g. "TMFLASH_SIM=/x/y.sim ".
BinaryRun run_tmflash(const std::string& args, const std::string& stdin_text = "",
                      const std::string& cwd = "", const std::string& extra_env = "");

// The same with standard input closed ("<&-"), as a station's launcher may
// start the program.
BinaryRun run_tmflash_without_stdin(const std::string& args, const std::string& cwd = "");

// The same with standard input read from the file path (a device such as
// /dev/zero, say).
BinaryRun run_tmflash_with_stdin_from(const std::string& args, const std::string& path, const std::string& cwd = "");
