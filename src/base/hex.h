// Hex digits, read in either case and written in upper case: the one
// implementation the command encodings, the script directives, the package
// and simulator descriptions all use. Tables in the header, so that the byte
// loops that call these per character compile to a load each: a data command
// is hundreds of digits.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace hex_detail {

struct Tables {
  int8_t value[256];    // the digit's value, -1 for a byte that is none
  char pair[256][2];    // the two upper-case digits of a byte
  constexpr Tables() : value(), pair() {
    constexpr char kDigits[] = "0123456789ABCDEF";
    for (int c = 0; c < 256; ++c) {
      value[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
                 : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
                 : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                                        : int8_t{-1};
      pair[c][0] = kDigits[c >> 4];
      pair[c][1] = kDigits[c & 15];
    }
  }
};

inline constexpr Tables kTables;

}  // namespace hex_detail

// Returns the value of the hex digit c: 0..9 for '0'..'9', 10..15 for 'A'..'F'
// and 'a'..'f'. Returns -1 for any other byte, 0x80..0xFF included.
constexpr int get_value(char c) { return hex_detail::kTables.value[static_cast<unsigned char>(c)]; }

// Returns the upper-case hex digit of v ('0'..'9', 'A'..'F') for v in 0..15,
// or -1 for any other value.
constexpr int get_hex(int v) { return v >= 0 && v <= 15 ? hex_detail::kTables.pair[v][1] : -1; }

// The byte of the two hex digits high and low, or -1 when either is not one.
constexpr int hex_pair(char high, char low) {
  int h = get_value(high);
  int l = get_value(low);
  return (h | l) < 0 ? -1 : h * 16 + l;
}

// Writes the n bytes as 2 * n upper-case hex digits from out on (no NUL) and
// returns the end of what it wrote.
inline char* put_hex_pairs(const uint8_t* bytes, size_t n, char* out) {
  for (size_t i = 0; i < n; ++i, out += 2) memcpy(out, hex_detail::kTables.pair[bytes[i]], 2);
  return out;
}
