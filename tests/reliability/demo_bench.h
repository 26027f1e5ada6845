// The demo's list, script, package and instrument, run in-process against
// the simulator on virtual time, for the sweeps that break a VISA call, a
// file or the whole run and then judge how the run ended.
//
// Judging an end. A run ends well when it ends with exit status 1 after a
// message in red (nothing claimed), or with "Update Ok" and the flash equal
// to what a clean run of the same list leaves: every erase block the clean
// run programmed holds the same bytes, and nothing was programmed anywhere
// else. Anything else ("Update Ok" over a wrong or partial image, exit 1
// without a word, another exit status) is a fault of the updater.
//
// Every run is finite: the platform counts every print, pause, sleep,
// operator answer and instrument write, and a run past the fuzz harness's
// step budget aborts the test binary with "runaway run" (a hang becomes a
// crash that names itself).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "driver/updater.h"
#include "fuzz/fuzz_harness.h"
#include "support/temp_dir.h"
#include "visa/sim/sim_backend.h"
#include "visa/sim/simulator.h"

namespace reliability {

// The demo as `make demo` builds it.
struct DemoFiles {
  std::string list;        // demo.lst, as written
  std::string package;     // firmware.pkg, as tmpack wrote it
  std::string script;      // firmware.txt, as tmscript wrote it
  sim::SimConfig instrument;  // instrument.sim
};
const DemoFiles& demo_files();

// Writes a list file of one job ("pt0=" or "path0=" and the path) into dir
// and returns its path.
std::string one_job_list(const TempDir& dir, const std::string& key, const std::string& path);
// Writes the demo's list with its file names replaced by these paths into
// dir and returns its path.
std::string demo_list(const TempDir& dir, const std::string& package_path, const std::string& script_path);

// Erase blocks and what they hold.
using FlashImage = std::vector<std::pair<uint32_t, std::vector<uint8_t>>>;

// How a run ended.
struct Outcome {
  int status = -1;
  bool red = false;        // a message in colour 12 was printed
  bool update_ok = false;  // "Update Ok" was printed
  bool image_ok = false;   // the flash is the clean run's image
  uint64_t erases = 0;     // erase commands the bootloader decoded
  uint64_t data = 0;       // data commands the bootloader decoded
  std::string screen;      // what the operator saw, for a failure's message
};

// The one verdict every sweep applies (see above).
bool ended_well(const Outcome& o);
std::string describe(const Outcome& o);

// One simulated workstation: a step-counting platform that is also the
// simulator's clock, the simulator with the demo's instrument, and updaters
// that come and go over them.
class Station {
 public:
  explicit Station(sim::SimConfig config);

  // A fresh Updater (new backend, new resource manager) runs the list file;
  // the operator answers "0" to every question, as `make demo` does.
  Outcome run(const std::string& list_path);

  // The flash over the erase blocks that the reference programmed, and
  // whether anything was programmed outside them.
  bool flash_equals(const FlashImage& reference) const;
  FlashImage image() const;

  sim::Simulator& simulator() { return *sim_; }
  fuzz::StepPlatform& platform() { return os_; }
  // The image runs are judged against; when empty, image_ok stays false.
  FlashImage reference;
  // --strict, --no-verify: what every run's updater is given.
  IntegrityRules integrity;

 private:
  std::vector<uint32_t> programmed_blocks() const;

  fuzz::StepPlatform os_;
  std::unique_ptr<sim::Simulator> sim_;
};

// The image a clean run of the list file leaves on the demo's instrument.
FlashImage clean_image(const std::string& list_path, const sim::SimConfig& config);

}  // namespace reliability
