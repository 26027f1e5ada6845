// The demo list with the k-th VISA call of one kind failing, for every k
// that a clean run of the list reaches: every run must end well (exit 1
// after a red message, or "Update Ok" over the right image), never hang,
// and leave no VISA handle open. The demo enters its bootloader by the jump
// command only; a second list, the demo's package and script in entry mode
// 1, puts the USB control requests on the road as well.
//
// Each sweep prints its figures: runs, how many ended "Update Ok" (a fault
// the updater or the operator's "Search again" recovered from) and how many
// ended with exit 1.
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "fuzz/fuzz_samples.h"
#include "reliability/demo_bench.h"

namespace reliability {
namespace {

struct FaultKind {
  const char* name;
  std::vector<uint32_t> sim::GlobalFaults::*calls;  // the fault list it fills
  uint32_t sim::CallCounts::*count;                 // the calls it counts
};

const FaultKind kKinds[] = {
    {"viOpen", &sim::GlobalFaults::fail_open, &sim::CallCounts::opens},
    {"viWrite", &sim::GlobalFaults::fail_write, &sim::CallCounts::writes},
    {"viRead", &sim::GlobalFaults::fail_read, &sim::CallCounts::reads},
    {"viRead time-out", &sim::GlobalFaults::timeout_read, &sim::CallCounts::reads},
    {"viUsbControlIn", &sim::GlobalFaults::fail_control_in, &sim::CallCounts::control_ins},
    {"viUsbControlOut", &sim::GlobalFaults::fail_control_out, &sim::CallCounts::control_outs},
    {"viFindRsrc", &sim::GlobalFaults::fail_search, &sim::CallCounts::searches},
    {"viOpenDefaultRM", &sim::GlobalFaults::fail_rm_open, &sim::CallCounts::rm_opens},
};

// A list to sweep and its files, written once per test.
struct SweptList {
  std::string name;
  std::string path;
};

SweptList demo(const TempDir& dir) {
  const DemoFiles& files = demo_files();
  return {"demo.lst", demo_list(dir, dir.write("firmware.pkg", files.package), dir.write("firmware.txt", files.script))};
}

// The demo's package and script with every firmware section in entry mode
// 1: the probe is a control-IN request, the jump a control-OUT request.
SweptList control_requests(const TempDir& dir) {
  std::string package = dir.write("mode1.pkg", fuzz::demo_package(1, 1));
  std::string script = dir.write("mode1.txt", fuzz::demo_script(1, 0));
  return {"mode-1 list", dir.write("mode1.lst", "total=2\npt0=" + package + "\npath1=" + script + "\n")};
}

struct ListMaker {
  const char* name;
  SweptList (*make)(const TempDir&);
};
void PrintTo(const ListMaker& m, std::ostream* out) { *out << m.name; }

class FaultSweep : public ::testing::TestWithParam<ListMaker> {
 protected:
  TempDir dir;
};

TEST_P(FaultSweep, EveryKOfEveryKindEndsWell) {
  SweptList list = GetParam().make(dir);
  const sim::SimConfig& config = demo_files().instrument;

  Station clean(config);
  Outcome first = clean.run(list.path);
  ASSERT_TRUE(first.status == 0 && first.update_ok) << describe(first);
  const FlashImage reference = clean.image();
  const sim::CallCounts calls = clean.simulator().call_counts();

  int failures_shown = 0;
  for (const FaultKind& kind : kKinds) {
    uint32_t runs = 0, ok = 0, refused = 0, bad = 0;
    for (uint32_t k = 1; k <= calls.*kind.count; ++k) {
      sim::SimConfig faulty = config;
      (faulty.faults.*kind.calls).push_back(k);
      Station station(faulty);
      station.reference = reference;
      Outcome o = station.run(list.path);
      ++runs;
      bool well = ended_well(o) && station.simulator().open_handles() == 0;
      if (!well) ++bad;
      else if (o.status == 0) ++ok;
      else ++refused;
      if (!well && failures_shown++ < 5) {
        ADD_FAILURE() << list.name << ", " << kind.name << " call " << k << " fails: "
                      << station.simulator().open_handles() << " handle(s) left open, " << describe(o);
      }
    }
    printf("fault sweep, %s, %-16s k = 1..%-3u %3u runs: %3u Update Ok (image right), %3u exit 1 (red), %u other\n",
           list.name.c_str(), kind.name, calls.*kind.count, runs, ok, refused, bad);
  }
}

INSTANTIATE_TEST_SUITE_P(Lists, FaultSweep,
                         ::testing::Values(ListMaker{"Demo", &demo}, ListMaker{"EntryMode1", &control_requests}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace reliability
