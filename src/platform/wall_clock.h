// Wall-clock time, for the time stamps of the run's log and report (the
// waits and durations of the run use the monotonic Clock).
#pragma once

#include <cstdint>
#include <string>

// Milliseconds since 1970-01-01 00:00 UTC.
int64_t wall_clock_ms();

// epoch_ms as local time with its offset from UTC, to the millisecond:
// "2025-06-01T10:11:12.345+02:00" (ISO 8601).
std::string local_time_text(int64_t epoch_ms);
