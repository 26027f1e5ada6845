#include "visa/sim/boot_frame.h"

#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// The value of every byte as a hex digit (either case), -1 for the others:
// a data command is hundreds of digits, read through this table.
struct HexValues {
  int8_t of[256];
  constexpr HexValues() : of() {
    for (int c = 0; c < 256; ++c) {
      of[c] = c >= '0' && c <= '9'   ? static_cast<int8_t>(c - '0')
              : c >= 'A' && c <= 'F' ? static_cast<int8_t>(c - 'A' + 10)
              : c >= 'a' && c <= 'f' ? static_cast<int8_t>(c - 'a' + 10)
                                     : int8_t{-1};
    }
  }
};
constexpr HexValues kHex;

int hex_value(char c) { return kHex.of[static_cast<unsigned char>(c)]; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string byte_text(unsigned char c) {
  char buf[8];
  snprintf(buf, sizeof buf, "0x%02X", c);
  return buf;
}

// Behind a command header the second byte is header text; in a bare binary
// frame it is the letter code (0..11, or 0xFF for an unknown letter).
bool has_letter_code(std::string_view m) {
  if (m.size() < 2) return false;
  unsigned char code = static_cast<unsigned char>(m[1]);
  return code < kCommandLetters.size() || code == 0xFF;
}

bool fail(std::string* why, std::string reason) {
  *why = std::move(reason);
  return false;
}

// Keeps the first n payload bytes; returns result.
bool cut(BootCommand* out, size_t n, bool result) {
  out->payload.resize(n);
  return result;
}

// The byte every pair of characters stands for, or kNotHex, indexed by the
// two characters read as one 16-bit number in the machine's byte order: one
// load and one look-up per payload byte. Made on first use (128 KiB, of
// which a data command touches a few dozen cache lines).
constexpr uint16_t kNotHex = 0x100;

struct HexPairs {
  uint16_t of[256 * 256];
  HexPairs() {
    for (int first = 0; first < 256; ++first) {
      for (int second = 0; second < 256; ++second) {
        const unsigned char pair[2] = {static_cast<unsigned char>(first), static_cast<unsigned char>(second)};
        uint16_t index = 0;
        memcpy(&index, pair, 2);
        int hi = kHex.of[first];
        int lo = kHex.of[second];
        of[index] = (hi | lo) < 0 ? kNotHex : static_cast<uint16_t>(hi * 16 + lo);
      }
    }
  }
};

const HexPairs& hex_pairs() {
  static const HexPairs pairs;
  return pairs;
}

// The common case at full speed: hex pairs up to a closing "$" that ends
// the line. Returns false for anything else, leaving the payload to the
// exact walk below.
bool decode_pairs(std::string_view pairs, BootCommand* out) {
  if (pairs.empty() || pairs.back() != '$' || (pairs.size() - 1) % 2 != 0) return false;
  size_t n = (pairs.size() - 1) / 2;
  out->payload.resize(n);
  const uint16_t* table = hex_pairs().of;
  const char* from = pairs.data();
  char* to = out->payload.data();
  unsigned seen = 0;  // kNotHex once a pair was not two hex digits
#pragma GCC unroll 4
  for (size_t k = 0; k < n; ++k) {
    uint16_t index = 0;
    memcpy(&index, from + 2 * k, 2);
    unsigned byte = table[index];
    seen |= byte;
    to[k] = static_cast<char>(byte);
  }
  return (seen & kNotHex) == 0;
}

// The quoted command line, from its opening quote to the end of the message.
bool decode_text(std::string_view q, BootCommand* out, std::string* why) {
  if (q.size() < 2 || q.back() != '"') return fail(why, "text command without its closing quote");
  std::string_view line = q.substr(1, q.size() - 2);
  if (line.size() < 3) return fail(why, "command line shorter than 3 characters");
  out->prefix = static_cast<uint8_t>(line[0]);
  out->letter = line[1];
  out->marker = static_cast<uint8_t>(line[2]);
  if (line[2] == '$') {
    if (line.size() != 3) return fail(why, "text after the \"$\" of a command without payload");
    return true;
  }
  if (line[2] != '#' && line[2] != '@') return fail(why, "marker is none of \"$\", \"#\", \"@\"");
  if (decode_pairs(line.substr(3), out)) return true;
  // The exact walk, for the reason of a refusal.
  out->payload.resize((line.size() - 3) / 2);
  char* to = out->payload.data();
  size_t n = 0;
  for (size_t i = 3;; i += 2) {
    if (i >= line.size()) return cut(out, n, fail(why, "command line without its closing \"$\""));
    if (line[i] == '$') {
      if (i + 1 != line.size()) return cut(out, n, fail(why, "text after the closing \"$\""));
      return cut(out, n, true);
    }
    int hi = hex_value(line[i]);
    int lo = i + 1 < line.size() ? hex_value(line[i + 1]) : -1;
    if ((hi | lo) < 0) return cut(out, n, fail(why, "payload is not pairs of hex digits"));
    to[n++] = static_cast<char>(hi * 16 + lo);
  }
}

bool decode_binary(std::string_view f, BootCommand* out, std::string* why) {
  out->binary = true;
  if (f.size() < 3) return fail(why, "binary frame shorter than 3 bytes");
  out->prefix = static_cast<uint8_t>(f[0]);
  unsigned char code = static_cast<unsigned char>(f[1]);
  if (code >= kCommandLetters.size()) return fail(why, "unknown letter code " + byte_text(code));
  out->letter = kCommandLetters[code];
  out->marker = static_cast<uint8_t>(f[2]);
  if (f[2] == '$') {
    if (f.size() != 3) return fail(why, "bytes after the \"$\" of a frame without payload");
    return true;
  }
  if (f.size() < 4 || f.back() != '$') return fail(why, "binary frame without its closing \"$\"");
  out->payload.assign(f.substr(3, f.size() - 4));
  return true;
}

// Parses "#<n><len>" at the start of b. On success *frame is the rest,
// which must be exactly len bytes long.
bool parse_block(std::string_view b, std::string_view* frame, std::string* why) {
  if (b.size() < 2 || b[0] != '#' || b[1] < '1' || b[1] > '9')
    return fail(why, "block header is not \"#\" and a digit 1..9");
  size_t n = static_cast<size_t>(b[1] - '0');
  if (b.size() < 2 + n) return fail(why, "block header cut short");
  uint64_t len = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = b[2 + i];
    if (c < '0' || c > '9') return fail(why, "block length is not decimal");
    len = len * 10 + static_cast<uint64_t>(c - '0');
  }
  std::string_view rest = b.substr(2 + n);
  if (rest.size() != len) {
    return fail(why, "block header announces " + std::to_string(len) + " bytes, " +
                         std::to_string(rest.size()) + " follow");
  }
  *frame = rest;
  return true;
}

// "<header> " then a quoted command line. The header may itself hold
// spaces: the first space followed by a quote ends it.
bool decode_text_with_header(std::string_view m, BootCommand* out, std::string* why) {
  size_t at = m.find(" \"");
  if (at == std::string_view::npos) return fail(why, "no quoted command line after the command header");
  out->header = true;
  out->header_text.assign(m.substr(0, at));
  return decode_text(m.substr(at + 1), out, why);
}

// "<header> " then a block. Every space followed by "#" is a candidate end of
// the header; a block is taken only where its length fits the rest exactly,
// so a header with spaces or a "#" in the frame does not mislead.
bool decode_block_with_header(std::string_view m, BootCommand* out, std::string* why) {
  std::string first_why;
  for (size_t at = m.find(" #"); at != std::string_view::npos; at = m.find(" #", at + 1)) {
    std::string_view frame;
    std::string this_why;
    if (parse_block(m.substr(at + 1), &frame, &this_why)) {
      out->header = true;
      out->block = true;
      out->header_text.assign(m.substr(0, at));
      return decode_binary(frame, out, why);
    }
    if (first_why.empty()) first_why = this_why;
  }
  out->binary = true;
  if (!first_why.empty()) return fail(why, first_why);
  return fail(why, "no block after the command header");
}

// Replaces what *out held, keeping the memory of its strings for this message.
void start(BootCommand* out, std::string_view message) {
  out->raw.assign(message);
  out->binary = false;
  out->header = false;
  out->header_text.clear();
  out->block = false;
  out->prefix = 0;
  out->letter = 0;
  out->marker = '$';
  out->payload.clear();
  out->reply.clear();
}

bool equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (lower(a[i]) != lower(b[i])) return false;
  return true;
}

}  // namespace

// Text messages end with the closing quote, binary frames with their "$":
// the last byte tells the two modes apart whatever the prefix byte is.
bool decode_boot_message(std::string_view message, BootCommand* out, std::string* why) {
  start(out, message);
  if (message.empty()) return fail(why, "empty message");
  if (message.back() == '"') {
    if (message[0] == '"') return decode_text(message, out, why);
    return decode_text_with_header(message, out, why);
  }
  if (message.back() == '$') {
    if (has_letter_code(message)) return decode_binary(message, out, why);
    return decode_block_with_header(message, out, why);
  }
  return fail(why, "message ends in neither a quote nor \"$\"");
}

bool is_query(std::string_view message, std::string_view query) {
  if (message.ends_with("\r\n")) {
    message.remove_suffix(2);
  } else if (message.ends_with("\n")) {
    message.remove_suffix(1);
  }
  return equal_ignoring_case(message, query);
}

bool is_identity_query(std::string_view message) { return is_query(message, "*IDN?"); }

}  // namespace sim
