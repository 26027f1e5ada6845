// The compatibility check of a package job against what the instrument says
// about itself: its identity, then its system information, compared entry by
// entry with the package's device code and section records.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/package_run.h"

namespace {

const std::string kRan = "<10>system cmd:echo ran\\n\nshell echo ran\n<->\\nUpdate Ok\\n\n";
const std::string kFailedPackage = "Device is failed connected. (8)\\n\npause\n";

std::string refused(int code) {
  return "<12>Corrupted Update File. (9-" + std::to_string(code) + ")\\n" + kFailedPackage;
}

// Runs only the shell section 0; records 1 and 16 are firmware records that
// the run order does not name, but that the info reply may.
PackagePlan checked_plan(const std::string& device_code) {
  PackagePlan p;
  p.device_code = device_code;
  p.run_order = {0};
  p.sections[0] = command_section("scmd", "echo ran");
  p.sections[1] = binary_section({0, 0, 1, 1}, {});
  p.sections[1]->boot_version = "2.01";
  p.sections[1]->kind = "HW3";
  p.sections[16] = binary_section({0, 0, 1, 1}, {});
  p.sections[16]->boot_version = "2.0";
  p.sections[16]->kind = "HW3";
  return p;
}

class InfoCheck : public PackageRun {
 protected:
  // Runs checked_plan(device_code) against an instrument that sends info.
  int run_against(const std::string& info, const std::string& device_code = "SIM1000") {
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    config.instruments.back().syst_info = info;
    connect(std::move(config));
    os.clear();
    write_package(checked_plan(device_code));
    return run_package();
  }
};

TEST_F(InfoCheck, EntriesAreComparedWithTheRecordsTheyName) {
  struct {
    const char* info;
    std::string after_dialogue;
  } cases[] = {
      // Section 1 (not in the run order) is compared all the same.
      {"1#main#2.10#HW3,-1#SIM1000#\n", kRan},
      {"1#main#2.10#HW3\n", kRan},        // no device entry; the line end stays in the hardware text
      {"1#main#12.3#HW3", kRan},          // "2" occurs in "12": a substring test
      {"1#main#2#xHW3x", kRan},           // no '.': the whole version; hardware anywhere in the text
      {"1#main#3.01#HW3", refused(16 + 1)},
      {"1#main#2.10#HW4", refused(32 + 1)},
      {"1#main#2.10#hw3", refused(32 + 1)},
      {"1#main#2.10#HW3,1#main#2.10#HW3,1#x#1.0#HW3", refused(16 + 1)},  // every entry is walked
      {"16#main#3.0#HW3", refused(16 + 16)},  // shows as 32, like a hardware mismatch of section 0
      {"3#empty#9.9#anything", kRan},     // an empty record matches everything
      {"0#shell#9.9#scmd", kRan},         // a command section's record is compared like any other
      {"0#shell#9.9#HW3", refused(32 + 0)},
      {"-1#OTHER#", refused(1)},
      {"-1#SIM1000#,1#main#3.01#HW4", kRan},  // the device entry ends the walk
      {"-1#SIM1000#anything after", kRan},
      // Outside the grammar: refused as unreadable.
      {"garbage", refused(2)},
      {"1#main", refused(2)},
      {"1#main#2.10", refused(2)},
      {"-1#SIM1000", refused(2)},
      {"20#main#2.10#HW3", refused(2)},
      {"-2#main#2.10#HW3", refused(2)},
      {"1#main#2.10#HW3,", refused(2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.info);
    bool runs = c.after_dialogue == kRan;
    EXPECT_EQ(run_against(c.info), runs ? 0 : 1);
    EXPECT_EQ(os.log(), updating() + first_dialogue() + c.after_dialogue);
    EXPECT_EQ(writes(), (std::vector<std::string>{"*idn?\n", "syst:info?\n"}));
    EXPECT_EQ(sim->open_handles(), 0u);
  }
}

TEST_F(InfoCheck, DeviceCodeIsComparedOnEightCharacters) {
  struct {
    const char* package_code;
    const char* info;
    int status;
  } cases[] = {
      {"", "-1##", 0},
      {"", "-1#SIM1000#", 1},
      {"SIM1000", "-1##", 1},
      {"SIM1000", "-1#SIM10000#", 1},
      {"ABCDEFGH", "-1#ABCDEFGH#", 0},   // all 8 bytes, no NUL in the package
      {"ABCDEFGH", "-1#ABCDEFGHIJ#", 0}, // only 8 characters are compared
      {"ABCDEFGH", "-1#ABCDEFG#", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.package_code) + " / " + c.info);
    EXPECT_EQ(run_against(c.info, c.package_code), c.status);
    EXPECT_EQ(os.log(), updating() + first_dialogue() + (c.status == 0 ? kRan : refused(1)));
  }
}

TEST_F(InfoCheck, InstrumentThatCannotTellRunsThePackageUnchecked) {
  struct {
    const char* what;
    const char* idn;
    const char* info;
    std::string after_dialogue;
    std::vector<std::string> writes;
  } cases[] = {
      {"identity begins with f", "fail\n", "-1#OTHER#", "<12>Device isn't get idn\\n\n" + kRan, {"*idn?\n"}},
      // An unanswered query: the read-failure message comes first.
      {"info not answered", "TMSIM\n", "",
       "<12>Device is failed connected. (6)\\nDevice isn't get info(1)\\n\n" + kRan, {"*idn?\n", "syst:info?\n"}},
      {"info begins with f", "TMSIM\n", "fail\n", "<12>Device isn't get info(2)\\n\n" + kRan,
       {"*idn?\n", "syst:info?\n"}},
      // Its bootloader runs (an update cut off after the jump): not asked.
      {"identity says bootloader", "boot,TM1000,SIM0001,2.05\n", "-1#OTHER#", kRan, {"*idn?\n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    config.instruments.back().main_idn = c.idn;
    config.instruments.back().syst_info = c.info;
    connect(std::move(config));
    os.clear();
    write_package(checked_plan("SIM1000"));
    EXPECT_EQ(run_package(), 0);
    EXPECT_EQ(os.log(), updating() + first_dialogue() + c.after_dialogue);
    EXPECT_EQ(writes(), c.writes);
  }
}

TEST_F(InfoCheck, FailedIdentityQueryIsThreeThenEight) {
  struct {
    const char* what;
    bool write_fails;  // else the read times out
    std::string after_dialogue;
  } cases[] = {
      // The query does not report its read failure; a failed write always is.
      {"read", false, "<12>Device is failed connected. (3)\\n" + kFailedPackage},
      {"write", true, "<12>Device is failed connected. (5)\\nDevice is failed connected. (3)\\n" + kFailedPackage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    if (c.write_fails) {
      config.faults.fail_write = {1};
    } else {
      config.faults.timeout_read = {1};
    }
    connect(std::move(config));
    os.clear();
    write_package(checked_plan("SIM1000"));
    EXPECT_EQ(run_package(), 1);
    EXPECT_EQ(os.log(), updating() + first_dialogue() + c.after_dialogue);
    EXPECT_EQ(calls("viWrite"), 1u);  // syst:info? is never asked
    EXPECT_EQ(sim->open_handles(), 0u);
  }
}

}  // namespace
