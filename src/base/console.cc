#include "base/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/messages.h"
#include "base/results.h"
#include "base/text.h"

namespace {

// Formats into a stack buffer that holds every message of the updater (the
// longest argument is a 2000-byte command text); anything longer is rare
// enough to be formatted on the heap rather than cut.
int vprint(Platform& os, int colour, const char* format, va_list args) {
  char buffer[4096];
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) {
    va_end(again);
    return n;
  }
  if (static_cast<size_t>(n) < sizeof buffer) {
    os.print(colour, std::string_view(buffer, static_cast<size_t>(n)));
  } else {
    std::string big(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(big.data(), big.size(), format, again);
    os.print(colour, std::string_view(big.data(), static_cast<size_t>(n)));
  }
  va_end(again);
  return n;
}

}  // namespace

int printf_color(Platform& os, int attribute, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vprint(os, attribute & 0xFFFF, format, args);
  va_end(args);
  return n;
}

int printf_plain(Platform& os, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vprint(os, kColourPlain, format, args);
  va_end(args);
  return n;
}

int report_failure(Platform& os, const char* format, ...) {
  va_list args;
  va_start(args, format);
  vprint(os, kColourRed, format, args);
  va_end(args);
  return kFailed;
}

void printf_note(Platform& os, const char* format, ...) {
  char buffer[4096];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  // Notes name files and quote lines; one that does not fit is cut, and
  // still ends its line.
  size_t length = static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1;
  std::string text = "tmflash: ";
  text.append(buffer, length);
  if (text.back() != '\n') text += '\n';
  os.print_error(kColourYellow, text);
}

int report_finding(Platform& os, const std::string& file, const Finding& f) {
  std::string place = finding_place(file, f);
  if (f.kind == Finding::kWarning) {
    printf_note(os, "%s: warning: %s\n", place.c_str(), f.text.c_str());
    return kOk;
  }
  if (f.messages[0] != nullptr) report_failure(os, "%s", f.messages[0]);
  if (f.messages[1] != nullptr) {
    os.pause();
    report_failure(os, "%s", f.messages[1]);
  }
  printf_note(os, "%s: %s\n", place.c_str(), f.text.c_str());
  return kFailed;
}

int report_failure_and_pause(Platform& os, const char* message) {
  report_failure(os, "%s", message);
  os.pause();
  return kFailed;
}

void pause(Platform& os) { os.pause(); }

void print_progress(Platform& os, int64_t done, int64_t total) {
  printf_plain(os, msg::kProgress, total > 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total) : 100.0);
}

void SystemCmd(Platform& os, const char* text) {
  constexpr char kDelay[] = "DELAY";
  constexpr size_t kDelayLength = sizeof kDelay - 1;
  if (strncmp(text, kDelay, kDelayLength) == 0) {
    // A negative delay would be a wait of about 49 days to the system's
    // sleep; it waits nothing instead.
    int ms = atoi_like(text + kDelayLength);
    os.sleep_ms(ms > 0 ? static_cast<uint32_t>(ms) : 0);
    return;
  }
  os.shell(text);
}

void run_system_command(Platform& os, const char* text) {
  printf_color(os, kColourGreen, msg::kSystemCmd, text);
  SystemCmd(os, text);
}
