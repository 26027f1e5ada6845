#include "visa/sim/boot_frame.h"

#include <cstdio>

namespace sim {

namespace {

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

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
  for (size_t i = 3;; i += 2) {
    if (i >= line.size()) return fail(why, "command line without its closing \"$\"");
    if (line[i] == '$') {
      if (i + 1 != line.size()) return fail(why, "text after the closing \"$\"");
      return true;
    }
    int hi = hex_value(static_cast<unsigned char>(line[i]));
    int lo = i + 1 < line.size() ? hex_value(static_cast<unsigned char>(line[i + 1])) : -1;
    if (hi < 0 || lo < 0) return fail(why, "payload is not pairs of hex digits");
    out->payload.push_back(static_cast<char>(hi * 16 + lo));
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
  out->raw.assign(message);
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
