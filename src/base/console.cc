#include "base/console.h"

#include <algorithm>
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

namespace {

constexpr char kProgressStart[] = "update...";
constexpr char kProgressEnd[] = "%\r";
// Values from here on (and negative ones, which no progress has) are left to
// snprintf; below it the hundredths of a value fit 64 bits exactly.
constexpr double kExactBelow = 1e13;

double progress_percent(int64_t done, int64_t total) {
  return total > 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total) : 100.0;
}

// The hundredths that printf's "%.2f" shows for v: the exact binary value
// rounded to the nearest hundredth, a tie to the even one. v is m * 2^e with
// m below 2^53, so v * 100 is m * 100 (below 2^60) shifted by e, and its
// rounding needs only the bits shifted out. False for v outside 0 ..
// kExactBelow.
bool exact_hundredths(double v, uint64_t* out) {
  if (!(v >= 0 && v < kExactBelow)) return false;
  uint64_t bits = 0;
  memcpy(&bits, &v, sizeof bits);
  int biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  if (biased != 0) m |= uint64_t{1} << 52;
  int e = (biased != 0 ? biased : 1) - 1075;
  uint64_t scaled = m * 100;
  uint64_t hundredths = 0;
  if (e >= 0) {
    hundredths = scaled << e;
  } else if (-e < 64) {
    int shift = -e;
    hundredths = scaled >> shift;
    uint64_t rest = scaled & ((uint64_t{1} << shift) - 1);
    uint64_t half = uint64_t{1} << (shift - 1);
    if (rest > half || (rest == half && (hundredths & 1) != 0)) ++hundredths;
  }  // else below 2^60 / 2^64 of a hundredth: 0.00
  *out = hundredths;
  return true;
}

// The progress text of so many hundredths of a percent, with its NUL, into
// out (kProgressTextMax bytes). Returns its length.
int put_progress(uint64_t hundredths, char* out) {
  char* at = out;
  memcpy(at, kProgressStart, sizeof kProgressStart - 1);
  at += sizeof kProgressStart - 1;
  char digits[24];
  int n = 0;
  uint64_t whole = hundredths / 100;
  do {
    digits[n++] = static_cast<char>('0' + whole % 10);
    whole /= 10;
  } while (whole != 0);
  while (n > 0) *at++ = digits[--n];
  *at++ = '.';
  *at++ = static_cast<char>('0' + hundredths % 100 / 10);
  *at++ = static_cast<char>('0' + hundredths % 10);
  memcpy(at, kProgressEnd, sizeof kProgressEnd);  // with its NUL
  return static_cast<int>(at - out) + static_cast<int>(sizeof kProgressEnd - 1);
}

}  // namespace

int format_progress(char* out, size_t size, int64_t done, int64_t total) {
  double percent = progress_percent(done, total);
  uint64_t hundredths = 0;
  if (size < kProgressTextMax || !exact_hundredths(percent, &hundredths)) {
    return snprintf(out, size, msg::kProgress, percent);
  }
  return put_progress(hundredths, out);
}

void print_progress(Platform& os, int64_t done, int64_t total) {
  char text[kProgressBufferSize];
  int n = format_progress(text, sizeof text, done, total);
  if (n > 0) os.print(kColourPlain, std::string_view(text, std::min(static_cast<size_t>(n), sizeof text - 1)));
}

// The same hundredths make the same text: only a new value is formatted.
void ProgressLine::print(Platform& os, int64_t done, int64_t total) {
  uint64_t hundredths = 0;
  if (!exact_hundredths(progress_percent(done, total), &hundredths)) {
    shown_ = false;
    return print_progress(os, done, total);
  }
  if (shown_ && hundredths == shown_hundredths_) return;
  char text[kProgressTextMax];
  int n = put_progress(hundredths, text);
  os.print(kColourPlain, std::string_view(text, static_cast<size_t>(n)));
  shown_ = true;
  shown_hundredths_ = hundredths;
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
