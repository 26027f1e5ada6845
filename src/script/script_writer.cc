#include "script/script_writer.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "script/script.h"

namespace {

std::string hex8(uint32_t value) {
  char text[9];
  snprintf(text, sizeof text, "%08X", value);
  return text;
}

// The sum checksum_file() takes over lines: little-endian 32-bit words,
// zero-padded, in pieces as its reader sees them.
uint32_t words_of(std::string_view lines) {
  uint32_t sum = 0;
  size_t start = 0;
  while (start < lines.size()) {
    size_t end = lines.find('\n', start);
    end = end == std::string_view::npos ? lines.size() : end + 1;
    for (size_t piece = start; piece < end; piece += kChecksumPiece) {
      sum += checksum_words(lines.data() + piece, std::min<size_t>(kChecksumPiece, end - piece));
    }
    start = end;
  }
  return sum;
}

bool parse_u(std::string_view args, std::string* value) {
  int mode = 0, binary = 0, comm_reset = 0;
  long delay = 3000;
  size_t pos = 0;
  while (pos < args.size()) {
    while (pos < args.size() && args[pos] == ' ') ++pos;
    size_t end = args.find(' ', pos);
    std::string item(args.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos));
    pos = end == std::string_view::npos ? args.size() : end;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    if (eq == std::string::npos) return false;
    std::string key = item.substr(0, eq);
    char* stop = nullptr;
    long number = strtol(item.c_str() + eq + 1, &stop, 0);
    if (*stop != '\0' || stop == item.c_str() + eq + 1) return false;
    if (key == "mode" && number >= 0 && number <= 3) mode = static_cast<int>(number);
    else if (key == "binary" && (number == 0 || number == 1)) binary = static_cast<int>(number);
    else if (key == "comm_reset" && (number == 0 || number == 1)) comm_reset = static_cast<int>(number);
    else if (key == "delay" && number >= 0 && number <= 0x7FFFFFFF) delay = number;
    else return false;
  }
  *value = u_directive_value(mode, binary, comm_reset, static_cast<uint32_t>(delay));
  return true;
}

struct Directive {
  const char* name;
  char letter;
  bool scrambled;
};

constexpr Directive kDirectives[] = {
    {"header", 'h', true}, {"jump", 'j', true},     {"boot", 'l', true},
    {"main", 'm', true},   {"hw", 'w', true},       {"version", 'v', false},
    {"company", 'c', false},
};

}  // namespace

std::string scramble_text(std::string_view text) {
  std::string out;
  char pair[3];
  for (unsigned char c : text) {
    snprintf(pair, sizeof pair, "%02X", c ^ kByteMask);
    out += pair;
  }
  return out;
}

std::string u_directive_value(int mode, int binary, int comm_reset, uint32_t jump_delay_ms) {
  unsigned bits = static_cast<unsigned>((comm_reset & 1) | (binary & 1) << 1 | (mode & 3) << 2);
  const char* digits = "0123456789ABCDEF";
  std::string value;
  value += digits[(bits ^ kFlagMask) & 0xF];
  value += '0';
  return value + hex8(jump_delay_ms ^ kWordMask);
}

std::string checksum_value(std::string_view following) {
  return hex8((0u - words_of(following)) ^ kWordMask);
}

const char* directive_source_name(char letter) {
  for (const Directive& d : kDirectives) {
    if (d.letter == letter) return d.name;
  }
  return nullptr;
}

bool is_source_note(std::string_view line) { return line.substr(0, 2) == "@#"; }

bool compile_script(std::string_view source, std::string* script, std::string* error) {
  std::vector<std::string> lines;
  for (size_t start = 0; start < source.size();) {
    size_t end = source.find('\n', start);
    end = end == std::string_view::npos ? source.size() : end + 1;
    lines.emplace_back(source.substr(start, end - start));
    start = end;
  }
  // Built from the end, so that a checksum line can cover what follows it.
  std::string out;
  for (size_t n = lines.size(); n-- > 0;) {
    std::string line = lines[n];
    if (is_source_note(line)) continue;
    if (line.empty() || line[0] != '@') {
      out.insert(0, line);
      continue;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    size_t space = line.find(' ');
    std::string name = line.substr(1, space == std::string::npos ? std::string::npos : space - 1);
    std::string arg = space == std::string::npos ? "" : line.substr(space + 1);
    std::string directive;
    if (name == "checksum") {
      directive = "___f=" + checksum_value(out);
    } else if (name == "u") {
      std::string value;
      if (!parse_u(arg, &value)) {
        *error = "line " + std::to_string(n + 1) + ": bad @u value: " + arg;
        return false;
      }
      directive = "___u=" + value;
    } else {
      const Directive* d = nullptr;
      for (const Directive& known : kDirectives) {
        if (name == known.name) d = &known;
      }
      if (d == nullptr) {
        *error = "line " + std::to_string(n + 1) + ": unknown directive @" + name;
        return false;
      }
      directive = std::string("___") + d->letter + "=" + (d->scrambled ? scramble_text(arg) : arg);
    }
    out.insert(0, directive + "\n");
  }
  *script = out;
  return true;
}
