// The platform seam: every call that tmflash makes to the operating system
// for the console, the operator, the shell and time goes through this one
// interface. main() chooses the real implementation for its system; tests use
// RecordingPlatform, which records every call and runs in virtual time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>

// Console colour attributes, numbered as Windows console text attributes.
enum Colour : int {
  kColourPlain = -1,   // plain output: the colour is not touched
  kColourBlue = 9,     // the "Search again" entry
  kColourGreen = 10,   // progress notices
  kColourCyan = 11,    // prompts and list titles
  kColourRed = 12,     // errors and warnings
  kColourMagenta = 13, // instrument list entries
  kColourYellow = 14,  // tmflash's own warnings and notes, on standard error
  kColourDefault = 7,  // restored after every coloured print
};

// The prompt of the operator pause; the line ends after the key (or at once
// when nobody can press one).
constexpr char kPausePrompt[] = "Press any key to continue . . . ";

// What one attempt to read the operator's number gave.
enum class InputResult {
  kNumber,     // *value holds the number
  kNotNumber,  // a line that is not a decimal integer was read and discarded
  kEnd,        // the input has ended (or failed): no answer will ever come
};

// The operating-system services tmflash needs. Implementations: the POSIX
// console (posix_platform.cc), the Windows console (windows_platform.cc),
// RecordingPlatform for tests.
class Platform {
 public:
  virtual ~Platform() = default;

  // Writes text to standard output in the given colour attribute; with
  // kColourPlain the console colour is left as it is.
  virtual void print(int colour, std::string_view text) = 0;

  // Writes text to standard error in the given colour attribute (colours
  // only where standard error is a terminal). tmflash's own warnings and
  // notes go here, so that standard output keeps exactly the console text
  // operators' procedures compare. Whatever was printed to standard output
  // before is out first, so that a shared terminal shows both in order.
  virtual void print_error(int colour, std::string_view text) = 0;

  // The operator pause: prompts to press a key and waits for one when the
  // operator can answer. Never waits when input is not interactive.
  virtual void pause() = 0;

  // Runs one command in the system's command shell and waits for it to end.
  // Returns the shell's exit status, which callers are free to ignore.
  virtual int shell(const char* command) = 0;

  // Sleeps for ms milliseconds.
  virtual void sleep_ms(uint32_t ms) = 0;

  // Reads one decimal integer typed by the operator, one line per answer.
  virtual InputResult read_number(int* value) = 0;
};

// Parses a line of operator input: optional blanks, an optional sign, decimal
// digits, optional trailing blanks. Returns false for anything else (a NUL
// byte included), and for numbers beyond the range of int.
bool parse_operator_number(std::string_view line, int* value);

// The longest stretch of one line that read_operator_answer() reads as one
// answer: a line longer than that is no number, and its rest counts as the
// next answers. No operator types such a line; a stream without line ends
// (/dev/zero) then still gives answers, each after a bounded read.
constexpr size_t kAnswerStretch = 4096;

// Reads one answer line from in, judged by all its bytes up to its line
// feed: kNumber with *value when it is a number as parse_operator_number()
// takes it; kNotNumber for any other line (a NUL byte ends nothing: "0",
// NUL, "1" is no number, and the line after it is the next answer); kEnd
// when in has ended or failed before a byte of the line.
InputResult read_operator_answer(FILE* in, int* value);
