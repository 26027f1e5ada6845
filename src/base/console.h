// Console messages, the operator pause and shell commands, as every part of
// the updater uses them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/finding.h"
#include "platform/platform.h"

// Prints like printf in the given colour attribute (12 red for errors, 10
// green for progress notices, 11 cyan for prompts, 13 magenta and 9 blue for
// the instrument list); the console goes back to attribute 7 afterwards.
// Returns the number of characters printed.
int printf_color(Platform& os, int attribute, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Prints like printf without touching the console colour: the progress line,
// the version echoes and "Update Ok".
int printf_plain(Platform& os, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Prints like printf in colour 12 (an error) and returns 1: the report of a
// failure, where it was found. Callers pass the 1 on without printing again.
int report_failure(Platform& os, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Prints "tmflash: " and the formatted text to standard error, yellow on a
// terminal: tmflash's own warnings and notes, which must never change
// standard output (operators' procedures compare it byte for byte).
void printf_note(Platform& os, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Reports a finding of a check made before anything of file runs. A fault:
// its numbered messages in colour 12 (the operator pause between two of
// them, where the streaming would pause), then on standard error where it
// is and what is wrong ("tmflash: FILE: byte N: TEXT"); returns 1. A
// warning: "tmflash: FILE:LINE: warning: TEXT" on standard error only;
// returns 0.
int report_finding(Platform& os, const std::string& file, const Finding& f);

// Prints the fixed message in colour 12, then the operator pause; returns 1.
int report_failure_and_pause(Platform& os, const char* message);

// The operator pause: waits until the operator presses a key.
void pause(Platform& os);

// The progress line of a script or section: "update...%.2f%%\r" with done
// as a share of total (100 % when total is 0), overwriting itself.
void print_progress(Platform& os, int64_t done, int64_t total);

// The text of that line, as printf would format it, written into out (size
// bytes) without the C library's formatter: it is made once per command.
// Returns its length, as snprintf does.
constexpr size_t kProgressTextMax = 32;  // the longest text below 10^13 %, with its NUL
constexpr size_t kProgressBufferSize = 512;  // holds the text of any double
int format_progress(char* out, size_t size, int64_t done, int64_t total);

// The progress line of one section, written only when its text changes: a
// section of thousands of small commands would write the same text over
// itself thousands of times. The console shows the same as if every line
// were written, provided the owner calls forget() whenever anything else may
// have been printed since its last line (the next line is then written
// whatever it says).
class ProgressLine {
 public:
  void print(Platform& os, int64_t done, int64_t total);
  void forget() { shown_ = false; }

 private:
  bool shown_ = false;             // a line is shown, and nothing printed after it
  uint64_t shown_hundredths_ = 0;  // its value, in hundredths of a percent
};

// Runs one shell command and waits for it; the text "DELAY" followed by a
// number of milliseconds (DELAY1000, DELAY 1000) sleeps instead. The
// outcome is not reported: a failing command only shows the shell's output.
void SystemCmd(Platform& os, const char* text);

// A shell command as a job or a package's command section runs it: announced
// in green ("system cmd:%s"), then SystemCmd; its outcome is not examined.
void run_system_command(Platform& os, const char* text);
