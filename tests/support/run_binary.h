// Runs the built tmflash program as an operator would, for black-box tests.
#pragma once

#include <string>

struct BinaryRun {
  int status = -1;     // exit status
  std::string output;  // stdout and stderr together
};

// Runs "tmflash ARGS" in the shell with stdin read from stdin_text (a pipe,
// never a terminal), in the working directory cwd (empty: unchanged).
// extra_env is prepended to the command, e.g. "TMFLASH_SIM=/x/y.sim ".
BinaryRun run_tmflash(const std::string& args, const std::string& stdin_text = "",
                      const std::string& cwd = "", const std::string& extra_env = "");
