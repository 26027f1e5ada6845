// Hex digits, read in either case and written in upper case: the one
// implementation the command encodings, the script directives, the package
// and simulator descriptions all use. Inline, so that the byte loops that
// call them per character compile to a few instructions.
#pragma once

// Returns the value of the hex digit c: 0..9 for '0'..'9', 10..15 for 'A'..'F'
// and 'a'..'f'. Returns -1 for any other byte, 0x80..0xFF included.
constexpr int get_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Returns the upper-case hex digit of v ('0'..'9', 'A'..'F') for v in 0..15,
// or -1 for any other value.
constexpr int get_hex(int v) {
  if (v >= 0 && v <= 9) return '0' + v;
  if (v >= 10 && v <= 15) return 'A' + v - 10;
  return -1;
}

// The byte of the two hex digits high and low, or -1 when either is not one.
constexpr int hex_pair(char high, char low) {
  int h = get_value(high);
  int l = get_value(low);
  return h < 0 || l < 0 ? -1 : h * 16 + l;
}
