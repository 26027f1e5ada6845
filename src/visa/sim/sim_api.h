// The in-process way in to the simulated instruments: a VisaApi table whose
// ten functions forward to the simulator that is active now.
//
// The VISA C functions carry no user pointer, so the table cannot know which
// simulator it belongs to: there is one active simulator per process at a
// time. Tests make theirs active for their own run (ScopedActiveSimulator)
// and must not run two simulators at once. While none is active every call
// gives VI_ERROR_SYSTEM_ERROR.
#pragma once

#include "visa/sim/simulator.h"
#include "visa/visa_types.h"

namespace sim {

// The table of the ten forwarding functions; the same one on every call.
const VisaApi* simulator_visa_api();

// Makes sim the active simulator (nullptr: none).
void set_active_simulator(Simulator* sim);
Simulator* active_simulator();

// Makes a simulator active for the life of this object and then restores
// the one that was active before.
class ScopedActiveSimulator {
 public:
  explicit ScopedActiveSimulator(Simulator& sim) : previous_(active_simulator()) { set_active_simulator(&sim); }
  ~ScopedActiveSimulator() { set_active_simulator(previous_); }
  ScopedActiveSimulator(const ScopedActiveSimulator&) = delete;
  ScopedActiveSimulator& operator=(const ScopedActiveSimulator&) = delete;

 private:
  Simulator* previous_;
};

}  // namespace sim
