#include "support/sim_run.h"

#include "link/session.h"

sim::InstrumentConfig instrument(const std::string& main_rsrc, const std::string& boot_rsrc) {
  sim::InstrumentConfig c;
  c.main_rsrc = main_rsrc;
  c.boot_rsrc = boot_rsrc;
  return c;
}

void SimRun::connect(sim::SimConfig config, bool keep) {
  if (keep) {
    config.keep_transcript = true;
    config.keep_commands = true;
  }
  backend.reset();
  sim = std::make_unique<sim::Simulator>(std::move(config), os);
  backend = sim::make_simulator_backend(*sim);
  u.backend = backend.get();
  u.visa = nullptr;  // the next open loads (and activates) this simulator
}

void SimRun::connect_one() {
  sim::SimConfig config;
  config.instruments.push_back(instrument(kMainA, kBootA));
  connect(std::move(config));
}

int SimRun::run_list(const std::string& list_text) {
  std::string list = dir.write("update.lst", list_text);
  const char* argv[] = {"tmflash", list.c_str()};
  return updater_main(u, 2, argv);
}

int SimRun::open(int* selection) { return open_machine(u, selection); }
