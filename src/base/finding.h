// A fault or a warning that a check of a file finds before anything of the
// file runs: where it is, the numbered messages a run prints for it, and
// what is wrong in words. The list file, script and package checks return
// them; the run reports the first fault it would meet, and --check all of
// them.
#pragma once

#include <cstdint>
#include <string>

struct Finding {
  enum Kind { kFault, kWarning };
  Kind kind = kFault;
  int line = 0;         // 1-based line of a text file; 0 when the place is not a line
  int64_t offset = -1;  // byte offset in a binary file; -1 when the place is not an offset
  // A fault's numbered messages, in the order the run prints them (a
  // framing message and the section's "(10-5)", say); the second may be
  // nullptr. Warnings have none: the run goes on.
  const char* messages[2] = {nullptr, nullptr};
  std::string text;  // what is wrong, in words
};

// The place of f in file, as notes and --check write it: "FILE:LINE",
// "FILE: byte OFFSET", or "FILE" for the whole file.
std::string finding_place(const std::string& file, const Finding& f);

// f's numbered messages without their line ends, joined by ", ".
std::string finding_messages(const Finding& f);

// A warning at line (0: the whole file).
Finding warning_at(int line, std::string text);

// A fault with one numbered message at line (0: the whole file).
Finding fault_at_line(int line, const char* message, std::string text);
