// Whole runs against simulated instruments: a recording platform whose
// virtual time the simulator shares, an Updater whose VISA is the simulator,
// and a directory for the list files, scripts and packages of the test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "driver/runner.h"
#include "driver/updater.h"
#include "support/recording_platform.h"
#include "support/temp_dir.h"
#include "visa/sim/sim_backend.h"
#include "visa/sim/simulator.h"

// Resource strings of the instruments the tests build.
inline const std::string kMainA = "USB0::0x1234::0x5678::SIM0001::INSTR";
inline const std::string kBootA = "USB0::0x1234::0x5679::SIM0001::INSTR";
inline const std::string kMainB = "USB0::0x1234::0x5678::SIM0002::INSTR";

// One instrument with the simulator's defaults under the given strings.
sim::InstrumentConfig instrument(const std::string& main_rsrc, const std::string& boot_rsrc);

class SimRun : public ::testing::Test {
 protected:
  SimRun() : u(os) {}

  // Connects the instruments of config; the simulator runs on the test's
  // clock. It keeps its transcript and the bootloader's commands for the
  // test to read, unless keep is false: then config says what is kept.
  void connect(sim::SimConfig config, bool keep = true);
  // One default instrument (kMainA, bootloader kBootA).
  void connect_one();

  // Runs the entry point on a list file with the given text.
  int run_list(const std::string& list_text);

  // Opens the instrument as a job does: resource manager, selection, session.
  // Returns open_machine's result.
  int open(int* selection);

  // Everything written to instrument i, one entry per write.
  std::vector<std::string> writes(size_t i = 0) const { return sim->writes_to(i); }

  RecordingPlatform os;
  Updater u;
  TempDir dir;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<VisaBackend> backend;
};
