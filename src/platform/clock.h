// Time as the simulated instruments see it: a monotonic clock that can also
// be waited on. Real time from the command line; in tests the recording
// platform's virtual time, so that a reboot of 5 s or a read time-out of 2 s
// passes in no time at all, and in step with the updater's own sleeps.
#pragma once

#include <cstdint>

class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint64_t now_ms() = 0;
  // Lets ms milliseconds pass (a real wait, or a jump of virtual time).
  virtual void wait_ms(uint32_t ms) = 0;
};

// The system's monotonic clock.
class RealClock : public Clock {
 public:
  uint64_t now_ms() override;
  void wait_ms(uint32_t ms) override;
};
