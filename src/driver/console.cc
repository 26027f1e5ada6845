#include "driver/console.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

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

void pause(Platform& os) { os.pause(); }

void SystemCmd(Platform& os, const char* text) {
  if (strncmp(text, "DELAY", 5) == 0) {
    // A negative delay would be a wait of about 49 days to the system's
    // sleep; it waits nothing instead.
    int ms = atoi_like(text + 5);
    os.sleep_ms(ms > 0 ? static_cast<uint32_t>(ms) : 0);
    return;
  }
  os.shell(text);
}
