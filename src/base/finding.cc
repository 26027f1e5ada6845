#include "base/finding.h"

#include <cstring>

std::string finding_place(const std::string& file, const Finding& f) {
  if (f.line > 0) return file + ":" + std::to_string(f.line);
  if (f.offset >= 0) return file + ": byte " + std::to_string(f.offset);
  return file;
}

std::string finding_messages(const Finding& f) {
  std::string out;
  for (const char* message : f.messages) {
    if (message == nullptr) continue;
    if (!out.empty()) out += ", ";
    size_t n = strlen(message);
    while (n > 0 && (message[n - 1] == '\n' || message[n - 1] == '\r')) --n;
    out.append(message, n);
  }
  return out;
}

Finding warning_at(int line, std::string text) {
  Finding f;
  f.kind = Finding::kWarning;
  f.line = line;
  f.text = std::move(text);
  return f;
}

Finding fault_at_line(int line, const char* message, std::string text) {
  Finding f;
  f.line = line;
  f.messages[0] = message;
  f.text = std::move(text);
  return f;
}
