// Small text helpers with the exact semantics the file formats rely on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// Converts like the C library's atoi: leading white space skipped, an optional
// sign, then decimal digits up to the first non-digit; no digits gives 0.
// Unlike atoi, a value beyond the range of int saturates instead of being
// undefined.
int atoi_like(const char* text);

// Copies the NUL-terminated src into dst, which holds size bytes, cutting it
// so that the result is always NUL-terminated. Returns the bytes copied
// (without the NUL). size must be at least 1.
size_t copy_text(char* dst, size_t size, const char* src);

// Appends src to the NUL-terminated text in dst (size bytes), cut to fit.
// Returns the new length of dst.
size_t append_text(char* dst, size_t size, const char* src);

// True when text begins with prefix.
bool starts_with(const char* text, const char* prefix);

// The major part of a version text: everything before its first '.' (the
// whole text when there is none), cut to fit out (out_size bytes, at least
// 1) and NUL-terminated.
void major_part(const char* version, char* out, size_t out_size);

// The lines of our "key = value" description files (the package description
// of tmpack, the simulator description of --visa=sim:FILE).

// s without blanks (space, tab, CR, LF) at either end.
std::string_view trim(std::string_view s);

// Takes the next line off the front of *text: up to its '\n', which is
// dropped, or the rest of the text.
std::string_view next_line(std::string_view* text);

// Splits line at its first '=' into the trimmed key and value; false when
// the line has no '='.
bool split_key_value(std::string_view line, std::string_view* key, std::string_view* value);

// Resolves the escapes \\ \n \r \t and \xHH (two hex digits, either case).
// On success sets *out and returns true; otherwise returns false with *why
// saying what is wrong, and *out unchanged.
bool unescape(std::string_view s, std::string* out, std::string* why);

// text in double quotes, as error messages name a value.
std::string in_quotes(std::string_view text);

// bytes in a form that shows every byte on one line: \n \r \t \\ as
// escapes, '"' as \" when quote is set, any other byte below 0x20 or from
// 0x7F on as \xNN (upper case).
std::string escaped(std::string_view bytes, bool quote);

// Any bytes as the reports of update files show a text: escaped and in
// double quotes.
std::string display_quoted(std::string_view text);

// value as 0x and digits upper-case hex digits (at least), its low 32 bits:
// addresses and sizes in the reports of update files.
std::string hex_text(int64_t value, int digits);
