// An update interrupted at any VISA call, then run again. From the k-th call
// on every call fails (the cable is pulled, or the updater's process is
// killed: either way nothing more reaches the instrument, which keeps
// running whatever it ran, its flash as far as it was written). Then the
// cable is back and a fresh updater, with a fresh VISA session, runs the
// same list against the same instrument at once: it must find the
// bootloader already running where the first run left it there, and end
// "Update Ok" with the whole image in flash.
//
// The interrupted run itself must end well too: exit 1 after a red message,
// or "Update Ok" over the whole image when only calls after the last
// command were lost (a failed close is not a failed update).
#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "fuzz/fuzz_samples.h"
#include "reliability/demo_bench.h"

namespace reliability {
namespace {

struct Interrupted {
  const char* name;
  std::string (*list)(const TempDir&);
};

void PrintTo(const Interrupted& i, std::ostream* out) { *out << i.name; }

std::string package_only(const TempDir& dir) {
  return one_job_list(dir, "pt", dir.write("firmware.pkg", demo_files().package));
}

std::string script_only(const TempDir& dir) {
  return one_job_list(dir, "path", dir.write("firmware.txt", demo_files().script));
}

std::string whole_demo(const TempDir& dir) {
  return demo_list(dir, dir.write("firmware.pkg", demo_files().package), dir.write("firmware.txt", demo_files().script));
}

// The figures of one sweep.
struct Tally {
  uint32_t runs = 0, first_ok = 0, first_failed = 0, rerun_ok = 0, rerun_bad = 0;
};

bool recovered(const Outcome& o) { return o.status == 0 && o.update_ok && o.image_ok; }

// Interrupts the list at every call k of its clean run and reruns it; a
// rerun must recover, or be accepted by judge.
template <typename Judge>
Tally sweep(const std::string& name, const std::string& list, Judge judge, IntegrityRules rules = {}) {
  const sim::SimConfig& config = demo_files().instrument;
  Station clean(config);
  clean.integrity = rules;
  Outcome first = clean.run(list);
  EXPECT_TRUE(first.status == 0 && first.update_ok) << describe(first);
  const FlashImage reference = clean.image();
  const uint32_t calls = clean.simulator().call_counts().all;

  Tally t;
  int failures_shown = 0;
  for (uint32_t k = 1; k <= calls; ++k) {
    sim::SimConfig cut = config;
    cut.faults.fail_from = k;
    Station station(cut);
    station.reference = reference;
    station.integrity = rules;
    Outcome interrupted = station.run(list);
    station.simulator().set_faults({});  // plugged in again
    Outcome rerun = station.run(list);
    ++t.runs;
    (interrupted.status == 0 ? t.first_ok : t.first_failed) += 1;
    bool first_well = ended_well(interrupted);
    bool rerun_well = recovered(rerun) || judge(rerun);
    t.rerun_ok += recovered(rerun) ? 1 : 0;
    t.rerun_bad += rerun_well ? 0 : 1;
    if ((!first_well || !rerun_well) && failures_shown++ < 5) {
      ADD_FAILURE() << name << ", cut at call " << k << " of " << calls << ":\ninterrupted run: "
                    << describe(interrupted) << "\nrerun: " << describe(rerun);
    }
  }
  printf("recovery, %-13s cut at k = 1..%-3u %3u runs: interrupted run %3u exit 1, %3u Update Ok; "
         "rerun %3u Update Ok (image right), %u otherwise\n",
         name.c_str(), calls, t.runs, t.first_failed, t.first_ok, t.rerun_ok, t.runs - t.rerun_ok);
  return t;
}

class Recovery : public ::testing::TestWithParam<Interrupted> {
 protected:
  TempDir dir;
};

TEST_P(Recovery, RerunAfterACutAtAnyCallCompletesTheImage) {
  Tally t = sweep(GetParam().name, GetParam().list(dir), [](const Outcome&) { return false; });
  EXPECT_EQ(t.rerun_ok, t.runs);
  EXPECT_EQ(t.rerun_bad, 0u);
  EXPECT_GT(t.first_failed, 0u);
}

const Interrupted kInterrupted[] = {
    {"package", &package_only},
    {"script", &script_only},
    {"demo.lst", &whole_demo},
};

std::string test_name(const ::testing::TestParamInfo<Interrupted>& info) {
  const char* names[] = {"Package", "Script", "DemoList"};
  return names[info.index];
}

INSTANTIATE_TEST_SUITE_P(Demo, Recovery, ::testing::ValuesIn(kInterrupted), test_name);

// Entry modes 2 and 3 refuse an instrument whose bootloader already runs
// ("Device is failed connected. (2)"): such an update must start from the
// main firmware. A cut after its jump therefore cannot be finished by a
// rerun; the rerun stops, before it erases anything, and the operator
// restarts the instrument (see the README, "If an update is interrupted").
// Every other cut is recovered.
TEST(RecoveryEntryMode2, ARerunAfterTheJumpStopsWithMessage2AndErasesNothing) {
  TempDir dir;
  std::string list = one_job_list(dir, "path", dir.write("mode2.txt", fuzz::demo_script(2, 0)));
  uint32_t stopped = 0;
  Tally t = sweep("mode-2 script", list, [&](const Outcome& o) {
    bool refused = o.status == 1 && o.erases == 0 && o.data == 0 &&
                   o.screen.find("Device is failed connected. (2)\n") != std::string::npos;
    stopped += refused ? 1 : 0;
    return refused;
  });
  printf("recovery, mode-2 script: %u reruns stopped with (2) before any erase\n", stopped);
  EXPECT_EQ(t.rerun_bad, 0u);
  EXPECT_GT(stopped, 0u);
  EXPECT_GT(t.rerun_ok, 0u);
}

// Under --strict a package whose compatibility cannot be checked is
// refused, and a bootloader cannot give the system information the check
// needs: a package cut off after its jump is refused by a strict rerun
// ("(9-0)", nothing erased), and a rerun without --strict finishes it (the
// README says so). Cuts before the jump are recovered under --strict too.
TEST(RecoveryStrict, APackageRerunAfterTheJumpIsRefusedWith9Dash0AndErasesNothing) {
  TempDir dir;
  IntegrityRules strict;
  strict.strict = true;
  uint32_t refused = 0;
  Tally t = sweep("pkg --strict", package_only(dir), [&](const Outcome& o) {
    bool stopped = o.status == 1 && o.erases == 0 && o.data == 0 &&
                   o.screen.find("Corrupted Update File. (9-0)\n") != std::string::npos;
    refused += stopped ? 1 : 0;
    return stopped;
  }, strict);
  printf("recovery, pkg --strict: %u reruns refused with (9-0) before any erase\n", refused);
  EXPECT_EQ(t.rerun_bad, 0u);
  EXPECT_GT(refused, 0u);
  EXPECT_GT(t.rerun_ok, 0u);
}

}  // namespace
}  // namespace reliability
