// --serial through whole runs: two instruments of one model on the bus (the
// same product IDs before and after the jump, other serial numbers), the
// demo's package and script, and only the named one is touched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/sim_run.h"
#include "visa/sim/sim_file.h"

namespace {

const std::string kDemoDir = std::string(TMFLASH_BUILD_DIR) + "/demo";
const std::string kBootB = "USB0::0x1234::0x5679::SIM0002::INSTR";

class SerialRun : public SimRun {
 protected:
  // The demo's instrument (SIM0001) and a second of its kind (SIM0002).
  void connect_demo_pair() {
    sim::SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::load_sim_description(std::string(TMFLASH_SOURCE_DIR) + "/examples/demo/instrument.sim",
                                          &config, &error))
        << error;
    sim::InstrumentConfig second = config.instruments.at(0);
    second.name = "second";
    second.main_rsrc = kMainB;
    second.boot_rsrc = kBootB;
    second.main_idn = "TMSIM,TM1000,SIM0002,1.03\n";
    second.boot_idn = "boot,TM1000,SIM0002,2.05\n";
    config.instruments.push_back(second);
    connect(std::move(config));
  }

  // The demo's jobs, with the paths of the built demo files.
  int run_demo_jobs() {
    return run_list("total=3\nmcmd0=:DISP:TEXT \"Firmware update\"\npt1=" + kDemoDir + "/firmware.pkg\npath2=" +
                    kDemoDir + "/firmware.txt\n");
  }

  std::vector<uint8_t> flash(size_t i, uint32_t addr, size_t len) const { return sim->flash(i, addr, len); }
};

std::vector<uint8_t> counting(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i);
  return v;
}

TEST_F(SerialRun, UpdatesTheNamedInstrumentThroughTheJumpAndLeavesTheOtherUntouched) {
  connect_demo_pair();
  u.choice.serial = "SIM0002";
  ASSERT_EQ(run_demo_jobs(), 0) << os.log();
  EXPECT_TRUE(os.text().ends_with("\nUpdate Ok\n"));
  EXPECT_EQ(os.log().find("USB:LIST"), std::string::npos) << "nobody is asked";
  EXPECT_EQ(os.log().find("input"), std::string::npos);
  EXPECT_NE(os.text().find("select 1:" + kMainB + "\n"), std::string::npos) << os.text();
  EXPECT_NE(os.text().find("Bootloader VisaRsrc=" + kBootB + "\n"), std::string::npos) << os.text();

  // The second instrument: jumped once, its machine commands, the package's
  // binary and framed sections and the script's data in its flash.
  EXPECT_EQ(sim->jumps(1), 1u);
  EXPECT_EQ(sim->machine_commands(1), (std::vector<std::string>{":DISP:TEXT \"Firmware update\"",
                                                                ":DISP:TEXT \"Updating\""}));
  EXPECT_EQ(flash(1, 0x20000, 0x60), counting(0x60));
  std::vector<uint8_t> fpga = flash(1, 0x30000, 15);
  EXPECT_EQ(std::string(fpga.begin(), fpga.end()), std::string("FPGA bitstream\0", 15));
  std::vector<uint8_t> script_data = flash(1, 0x10000, 12);
  EXPECT_EQ(std::string(script_data.begin(), script_data.end()), "Tmflash demo");

  // The first: never written to, never jumped, its flash as it was.
  EXPECT_TRUE(writes(0).empty());
  EXPECT_EQ(sim->jumps(0), 0u);
  EXPECT_EQ(sim->state(0), sim::InstrumentState::kMain);
  EXPECT_EQ(flash(0, 0x20000, 0x60), std::vector<uint8_t>(0x60, 0));
  EXPECT_EQ(flash(0, 0x10000, 0x30), std::vector<uint8_t>(0x30, 0));
}

TEST_F(SerialRun, AnAbsentSerialStopsBeforeAnythingIsWritten) {
  connect_demo_pair();
  u.choice.serial = "SIM0003";
  EXPECT_EQ(run_demo_jobs(), 1);
  EXPECT_EQ(os.log(),
            "<10>machine cmd::DISP:TEXT \"Firmware update\"\\n\n"
            "<12>--serial=SIM0003: no instrument with this serial number; found " +
                kMainA + ", " + kMainB + "\\n\n");
  EXPECT_TRUE(writes(0).empty());
  EXPECT_TRUE(writes(1).empty());
  EXPECT_EQ(sim->open_handles(), 0u);
}

}  // namespace
