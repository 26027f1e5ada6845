#include "base/text.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "base/hex.h"

int atoi_like(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = (*p++ == '-');
  long long value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    value = value * 10 + (*p - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) return static_cast<int>(-value);
  return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

size_t copy_text(char* dst, size_t size, const char* src) {
  size_t n = strnlen(src, size - 1);
  memcpy(dst, src, n);
  dst[n] = '\0';
  return n;
}

size_t append_text(char* dst, size_t size, const char* src) {
  size_t used = strnlen(dst, size - 1);
  return used + copy_text(dst + used, size - used, src);
}

bool starts_with(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

void major_part(const char* version, char* out, size_t out_size) {
  size_t n = strcspn(version, ".");
  if (n >= out_size) n = out_size - 1;
  memcpy(out, version, n);
  out[n] = '\0';
}

std::string_view trim(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  size_t first = s.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

std::string_view next_line(std::string_view* text) {
  size_t end = text->find('\n');
  std::string_view line = text->substr(0, end);
  text->remove_prefix(end == std::string_view::npos ? text->size() : end + 1);
  return line;
}

bool split_key_value(std::string_view line, std::string_view* key, std::string_view* value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *key = trim(line.substr(0, eq));
  *value = trim(line.substr(eq + 1));
  return true;
}

bool unescape(std::string_view s, std::string* out, std::string* why) {
  std::string text;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      text.push_back(s[i]);
      continue;
    }
    if (++i == s.size()) return (*why = "a \\ ends the value", false);
    switch (s[i]) {
      case '\\': text.push_back('\\'); break;
      case 'n': text.push_back('\n'); break;
      case 'r': text.push_back('\r'); break;
      case 't': text.push_back('\t'); break;
      case 'x': {
        int byte = i + 2 < s.size() ? hex_pair(s[i + 1], s[i + 2]) : -1;
        if (byte < 0) return (*why = "\\x needs two hex digits", false);
        text.push_back(static_cast<char>(byte));
        i += 2;
        break;
      }
      default: return (*why = std::string("unknown escape \\") + s[i], false);
    }
  }
  *out = std::move(text);
  return true;
}

std::string display_quoted(std::string_view text) { return in_quotes(escaped(text, true)); }

std::string hex_text(int64_t value, int digits) {
  char text[24];
  snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value) & 0xFFFFFFFFull);
  return text;
}

std::string in_quotes(std::string_view text) {
  // Built front to back: GCC 12 at -O3 warns falsely (-Wrestrict) about a
  // one-character literal put in front of a string.
  std::string out(1, '"');
  out.append(text);
  out += '"';
  return out;
}

std::string escaped(std::string_view bytes, bool quote) {
  std::string out;
  for (unsigned char c : bytes) {
    switch (c) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (c == '"' && quote) {
          out += "\\\"";
        } else if (c < 0x20 || c >= 0x7F) {
          char hex[8];
          snprintf(hex, sizeof hex, "\\x%02X", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out;
}
