// Update scripts: text files of command lines and "___" directive lines.
// A directive sets one per-file setting at once; a command line is executed
// at once by program_cmd. Some directive values are stored scrambled with the
// system's three XOR masks.
//
//   ___h=<hex>        command header (scrambled)        ___c=<text>  company
//   ___j=<hex>        jump command (scrambled)          ___v=<text>  target version
//   ___l=<hex>        accepted bootloader version       ___m=<hex>   accepted main versions
//   ___w=<hex>        accepted hardware versions        ___f=<8 hex> checksum line
//   ___u=<flag digit><any><8 hex>   entry mode, send mode, comm_reset, jump delay
#pragma once

#include <cstdio>
#include <string>

#include "script/script_updater.h"

// The system's scrambling masks.
constexpr unsigned kByteMask = 0xC5;         // scrambled hex fields
constexpr unsigned kFlagMask = 0xE;          // the "u" flag digit
constexpr uint32_t kWordMask = 0x5B2E6D14;   // the "u" jump delay and the checksum line

constexpr uint32_t kScriptRetryMs = 800;     // between attempts of a script
constexpr int kScriptAttempts = 4;

// checksum_file() reads a line in pieces of at most this many bytes.
constexpr size_t kChecksumPiece = 999;

// Runs the whole script from its first line (the file is rewound), printing
// "update...%.2f%%\r" before each command line. Returns 0 at the end of the
// file; otherwise the first non-zero result of program_cmd (1 or 2), reading
// no further. A line that does not fit src_data (1999 characters with its
// line end) is refused like a malformed command line: "Corrupted Update
// File. (2)" in text mode, "(1)" in binary mode, a pause, and 1.
int program(ScriptUpdater& u, int selection, int attempt, FILE* file);

// Applies directive letter with its value (cut in place at its first CR or
// LF). Unknown letters are ignored. "v" prints "  update to version(%s)" on
// attempt 0. Text settings that would overflow are cut to their size.
void get_base_data(ScriptUpdater& u, char letter, char* value, int attempt);

// What get_base_data sets, without printing: the per-file settings in upd
// and, for "u", the jump delay in jump_dealy. Checks of a script apply its
// directives with this, exactly as a run does.
void apply_directive(FileSettings& upd, int& jump_dealy, char letter, char* value);

// Reads the next line of a script into line (size bytes) as program reads
// it: up to and including its line feed, NUL added. Returns the bytes the
// line takes in the file, line end included; 0 at the end of the file.
// Sets *too_long when the line did not fit: line then holds its first
// size - 1 bytes, and the rest of the line was read and dropped.
size_t read_script_line(FILE* file, char* line, size_t size, bool* too_long);

// True when line is a directive line (it begins with "___").
bool is_directive(const char* line);

// The value of a directive line: the text from its position 5 on (empty
// for a shorter line).
char* directive_value(char* line);

// Decodes a scrambled hex field into the text out (out_size bytes): each hex
// pair XOR kByteMask is one byte, up to the first pair that is not two hex
// digits or the first byte that decodes to 0. The text is cut to fit out.
void set_binary2data(const char* field, char* out, size_t out_size);

// Returns the per-file settings to their defaults; mode is kept.
void reset_setting(ScriptUpdater& u);

// Sets the command header of the per-file settings, as the "h" directive and
// a package's section record give it: des_data begins with the header and a
// space (headerlen bytes) and i488_en is set; an empty header clears all
// three.
void set_command_header(FileSettings& upd, const char* header);

// Returns 1 when the script at path carries a valid checksum: the value of
// its last "___f=" line XOR kWordMask plus the little-endian 32-bit words of
// every later line (zero-padded) is 0 modulo 2^32. Returns 0 otherwise, also
// when the file cannot be opened or is no regular file, or a checksum line
// holds a non-hex digit.
int checksum_file(const char* path);

// What checksum_file() finds in a script, over its open file.
struct ChecksumCheck {
  int line = 0;           // 1-based line of the last checksum line; 0: the script has none
  int lines = 0;          // lines of the script
  bool holds = false;     // checksum_file() would give 1
  bool bad_digit = false; // a checksum line holds a character that is not a hex digit
  bool read_error = false;
};

// Reads the script open in file from its start, as checksum_file() reads
// it, and puts the file back at its start.
ChecksumCheck check_checksum(FILE* file);

// The message a run refuses a script with after check, and in *why the
// reason for the operator; nullptr when it does not refuse it. A checksum
// line that does not hold, and a script that cannot be read: "Corrupted
// Update File. (11)". With strict, a script without a checksum line, an
// empty one included: "(12)".
const char* script_integrity_fault(const ChecksumCheck& check, bool strict, std::string* why);

// The checksum's sum over one piece of a line as checksum_file() reads it
// (at most kChecksumPiece bytes): the little-endian 32-bit words of piece[0 .. n), the
// last one zero-padded, added modulo 2^32.
uint32_t checksum_words(const char* piece, size_t n);
