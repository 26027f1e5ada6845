// Runs the built programs as an operator would, for black-box tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct BinaryRun {
  int status = -1;     // exit status
  std::string output;  // stdout and stderr together; lines end in "\n"
  std::string raw;     // the same bytes as the program wrote them (Windows: lines end in "\r\n")
};

// Environment variables set for one run only: name, value.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs program with the arguments, each passed as one argument whatever it
// holds, with stdin read from stdin_text (a file, never a terminal or
// console), in the working directory cwd (empty: unchanged), with env added
// to the environment.
BinaryRun run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::string& stdin_text = "", const std::string& cwd = "",
                      const Environment& env = {});

// The same with the built tmflash.
BinaryRun run_tmflash(const std::vector<std::string>& args, const std::string& stdin_text = "",
                      const std::string& cwd = "", const Environment& env = {});

// The file of a program built beside tmflash (tmpack, tmscript).
std::string built_program(const std::string& name);
