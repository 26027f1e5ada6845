// VisaBackend implementations over the simulated instruments, for the
// command line's `--visa=sim` and `--visa=sim:FILE` and for tests that run
// the updater's entry point against a simulator of their own.
//
// Each backend's load() makes its simulator the active one (sim_api.h) and
// returns the forwarding table; destroying the backend deactivates it again
// if it is still the active one. One simulator backend at a time.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "visa/sim/simulator.h"
#include "visa/visa_backend.h"

namespace sim {

// A backend over a simulator that the caller owns (tests: built with the
// recording platform as its clock). load() never fails.
std::unique_ptr<VisaBackend> make_simulator_backend(Simulator& simulator);

// `--visa=sim:FILE`: load() reads the description file (sim_file.h) and
// builds its simulator over the real clock. On a bad file load() fails with
// the one line "FILE:LINE: reason" (or "FILE: cannot open ...").
std::unique_ptr<VisaBackend> make_simulator_file_backend(std::string path);

// `--visa=sim`: one default instrument (default_sim_config()) over the real clock.
std::unique_ptr<VisaBackend> make_default_simulator_backend();

// For the value of --visa: "sim" gives the default backend, "sim:FILE" the
// file backend; anything else gives nullptr (not a simulator option).
std::unique_ptr<VisaBackend> make_simulator_backend_for_option(std::string_view visa_option);

}  // namespace sim
