// Runs the built programs as an operator would, for black-box tests.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

struct BinaryRun {
  int status = -1;     // exit status; -1 when the program did not exit normally
  std::string output;  // standard output, lines ending in "\n": what operators' procedures compare
  std::string errors;  // standard error, lines ending in "\n": tmflash's own warnings and notes
  std::string raw;     // standard output as the program wrote it (Windows: lines end in "\r\n")
};

// Environment variables set for one run only: name, value.
using Environment = std::vector<std::pair<std::string, std::string>>;

// Runs program with the arguments, each passed as one argument whatever it
// holds, with stdin read from stdin_text (a file, never a terminal or
// console; std::nullopt: standard input closed, as a station's launcher may
// start the program), in the working directory cwd (empty: unchanged), with
// env added to the environment.
BinaryRun run_program(const std::string& program, const std::vector<std::string>& args,
                      const std::optional<std::string>& stdin_text = std::string(), const std::string& cwd = "",
                      const Environment& env = {});

// The same with the built tmflash.
BinaryRun run_tmflash(const std::vector<std::string>& args, const std::optional<std::string>& stdin_text = std::string(),
                      const std::string& cwd = "", const Environment& env = {});

// The same with standard input closed.
BinaryRun run_tmflash_without_stdin(const std::vector<std::string>& args, const std::string& cwd = "");

// The file of a program built beside tmflash (tmpack, tmscript).
std::string built_program(const std::string& name);

#ifndef _WIN32
// The same with standard input read from the file path (a device such as
// /dev/zero, say).
BinaryRun run_tmflash_with_stdin_from(const std::vector<std::string>& args, const std::string& path,
                                      const std::string& cwd = "");
#endif
