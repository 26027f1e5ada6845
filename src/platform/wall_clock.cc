#include "platform/wall_clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

// The local time of t and its offset from UTC in seconds.
std::tm local_tm(std::time_t t, long* offset_s) {
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &t);
  std::tm copy = local;
  *offset_s = static_cast<long>(_mkgmtime(&copy) - t);
#else
  localtime_r(&t, &local);
  *offset_s = local.tm_gmtoff;
#endif
  return local;
}

}  // namespace

int64_t wall_clock_ms() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string local_time_text(int64_t epoch_ms) {
  int64_t seconds = epoch_ms / 1000;
  int millis = static_cast<int>(epoch_ms % 1000);
  if (millis < 0) {
    millis += 1000;
    --seconds;
  }
  long offset_s = 0;
  std::tm t = local_tm(static_cast<std::time_t>(seconds), &offset_s);
  char sign = offset_s < 0 ? '-' : '+';
  // Offsets on Earth stay within a day; the bound keeps the text's size known.
  int offset_min = static_cast<int>(((offset_s < 0 ? -offset_s : offset_s) / 60) % (24 * 60));
  char text[80];
  snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d", t.tm_year + 1900,
           t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, millis, sign, offset_min / 60,
           offset_min % 60);
  return text;
}
