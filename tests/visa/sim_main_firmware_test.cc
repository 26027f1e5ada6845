// The simulated main firmware and its jump to the bootloader, through the
// ten VISA calls: queries, machine commands, control requests, the jump by
// text and by each vendor request, the reboot and the new resource string.
#include <gtest/gtest.h>

#include <functional>

#include "support/sim_fixture.h"

namespace {

using sim::InstrumentState;

class SimMainFirmware : public SimFixture {};

TEST_F(SimMainFirmware, AnswersIdentityAndInfoInEitherCase) {
  start();
  ViSession vi = open(kMainRsrc);
  const sim::InstrumentConfig& c = instrument();
  const std::pair<const char*, std::string> cases[] = {
      {"*IDN?\n", c.main_idn},       {"*idn?\n", c.main_idn},        {"*IdN?", c.main_idn},
      {"*IDN?\r\n", c.main_idn},     {"syst:info?\n", c.syst_info},  {"SYST:INFO?\n", c.syst_info},
  };
  for (const auto& [asked, answer] : cases) {
    Reply r = query(vi, asked);
    EXPECT_EQ(r.status, VI_SUCCESS) << asked;
    EXPECT_EQ(r.bytes, answer) << asked;
  }
  EXPECT_TRUE(simulator->machine_commands(0).empty());
}

TEST_F(SimMainFirmware, OtherTextIsAMachineCommandWithoutReply) {
  start();
  ViSession vi = open(kMainRsrc);
  EXPECT_EQ(write(vi, "OUTP ON\n"), VI_SUCCESS);
  EXPECT_EQ(write(vi, "*IDN? extra\n"), VI_SUCCESS);
  EXPECT_EQ(write(vi, ""), VI_SUCCESS);
  EXPECT_EQ(read(vi).status, VI_ERROR_TMO);
  EXPECT_EQ(simulator->machine_commands(0), (std::vector<std::string>{"OUTP ON\n", "*IDN? extra\n", ""}));
  EXPECT_EQ(simulator->writes_to(0), (std::vector<std::string>{"OUTP ON\n", "*IDN? extra\n", ""}));
  EXPECT_EQ(simulator->bytes_written_to(0), "OUTP ON\n*IDN? extra\n");
}

TEST_F(SimMainFirmware, JumpsOnlyOnItsJumpCommandWrittenExactly) {
  start();
  ViSession vi = open(kMainRsrc);
  for (const char* near_miss : {"SYST:BOOT\n", "syst:boot", " SYST:BOOT", "SYST:BOO"}) {
    EXPECT_EQ(write(vi, near_miss), VI_SUCCESS);
    EXPECT_EQ(simulator->state(0), InstrumentState::kMain) << near_miss;
  }
  EXPECT_EQ(simulator->machine_commands(0).size(), 4u);
  EXPECT_EQ(write(vi, "SYST:BOOT"), VI_SUCCESS);
  EXPECT_EQ(simulator->state(0), InstrumentState::kRebooting);
  EXPECT_EQ(simulator->jumps(0), 1u);
}

TEST_F(SimMainFirmware, ControlInGivesTheRunningProgramsText) {
  instrument().start = sim::StartState::kMain;
  config.instruments.emplace_back();
  instrument(1).name = "boot";
  instrument(1).main_rsrc = "USB0::0x1234::0x5678::SIM0002::INSTR";
  instrument(1).start = sim::StartState::kBootloader;
  start();
  ViSession main_vi = open(kMainRsrc);
  ViSession boot_vi = open("USB0::0x1234::0x5678::SIM0002::INSTR");
  EXPECT_EQ(control_in(main_vi).bytes, "mf_1.03");
  Reply boot = control_in(boot_vi);
  EXPECT_EQ(boot.status, VI_SUCCESS);
  EXPECT_EQ(boot.bytes, "bt_2.05");
  EXPECT_EQ(control_in(boot_vi, 3).bytes, "bt_");  // cut to wLength
  EXPECT_EQ(control_in(boot_vi, 10, 0x40).status, VI_ERROR_INV_PARAMETER);  // an OUT request type
  EXPECT_EQ(control_in(boot_vi, 10, 0xC1).status, VI_ERROR_IO);             // unknown: stalls
  std::vector<sim::ControlRequest> requests = simulator->control_requests(1);
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_TRUE(requests[0].in);
  EXPECT_EQ(requests[0].bmRequestType, 0xC0);
  EXPECT_EQ(requests[0].wLength, 10);
  EXPECT_EQ(requests[0].data, "bt_2.05");
  EXPECT_EQ(requests[3].status, VI_ERROR_IO);
}

TEST_F(SimMainFirmware, UnknownControlOutRequestsStallAndDoNotJump) {
  start();
  ViSession vi = open(kMainRsrc);
  EXPECT_EQ(control_out(vi, 0x40, 1), VI_ERROR_IO);
  EXPECT_EQ(control_out(vi, 0x42), VI_ERROR_IO);
  EXPECT_EQ(control_out(vi, 0xC0), VI_ERROR_INV_PARAMETER);  // an IN request type
  EXPECT_EQ(simulator->state(0), InstrumentState::kMain);
}

TEST_F(SimMainFirmware, ControlRequestsDoNotJumpWhenTheInstrumentDoesNotKnowThem) {
  instrument().control_jump = false;
  start();
  ViSession vi = open(kMainRsrc);
  EXPECT_EQ(control_out(vi, 0x40), VI_ERROR_IO);
  EXPECT_EQ(control_out(vi, 0x41), VI_ERROR_IO);
  EXPECT_EQ(simulator->state(0), InstrumentState::kMain);
}

// One way of asking the main firmware to jump, through the fixture.
struct JumpWay {
  const char* name;
  std::function<ViStatus(SimFixture&, ViSession)> ask;
};

void PrintTo(const JumpWay& way, std::ostream* os) { *os << way.name; }

class SimJump : public SimFixture, public ::testing::WithParamInterface<JumpWay> {
 protected:
  ViStatus ask(ViSession vi) { return GetParam().ask(*this, vi); }

 public:
  // For the table below, which cannot reach protected members.
  static ViStatus write_text(SimFixture& f, ViSession vi, std::string_view text) {
    return static_cast<SimJump&>(f).write(vi, text);
  }
  static ViStatus request(SimFixture& f, ViSession vi, int type) { return static_cast<SimJump&>(f).control_out(vi, type); }
};

TEST_P(SimJump, MainFirmwareGoesAwayAndComesBackAsBootloaderAfterTheRebootTime) {
  instrument().reboot_ms = 1500;
  start();
  ViSession rm = open_rm();
  ViSession vi = open(kMainRsrc, rm);
  uint64_t t0 = clock.now_ms();
  ASSERT_EQ(ask(vi), VI_SUCCESS);
  EXPECT_EQ(simulator->jumps(0), 1u);

  // The session to the main firmware is dead.
  EXPECT_EQ(write(vi, "*IDN?\n"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(read(vi).status, VI_ERROR_CONN_LOST);
  EXPECT_EQ(clock.now_ms(), t0);  // a dead session does not wait

  // Absent while it reboots.
  clock.wait_ms(1499);
  ViStatus status = VI_SUCCESS;
  EXPECT_TRUE(find("USB[0-9]*::?*::INSTR", &status, rm).empty());
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
  ViSession none = 0;
  EXPECT_EQ(v.viOpen(rm, kMainRsrc, VI_NULL, 1000, &none), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(v.viOpen(rm, kBootRsrc, VI_NULL, 1000, &none), VI_ERROR_RSRC_NFOUND);

  // Back under the bootloader's resource string, running the bootloader.
  clock.wait_ms(1);
  EXPECT_EQ(find("USB[0-9]*::?*::INSTR", &status, rm), std::vector<std::string>{kBootRsrc});
  EXPECT_EQ(v.viOpen(rm, kMainRsrc, VI_NULL, 1000, &none), VI_ERROR_RSRC_NFOUND);
  ViSession boot = open(kBootRsrc, rm);
  EXPECT_EQ(query(boot, "*IDN?\n").bytes, instrument().boot_idn);
  EXPECT_EQ(simulator->state(0), InstrumentState::kBootloader);
  // The old session stays dead; closing it is still allowed.
  EXPECT_EQ(write(vi, "*IDN?\n"), VI_ERROR_CONN_LOST);
  EXPECT_EQ(v.viClose(vi), VI_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, SimJump,
    ::testing::Values(JumpWay{"JumpCommand", [](SimFixture& f, ViSession vi) { return SimJump::write_text(f, vi, "SYST:BOOT"); }},
                      JumpWay{"DeviceRequest", [](SimFixture& f, ViSession vi) { return SimJump::request(f, vi, 0x40); }},
                      JumpWay{"InterfaceRequest",
                              [](SimFixture& f, ViSession vi) { return SimJump::request(f, vi, 0x41); }}),
    [](const ::testing::TestParamInfo<JumpWay>& info) { return std::string(info.param.name); });

TEST_F(SimMainFirmware, BootloaderWithTheSameResourceStringIsANewDevice) {
  instrument().boot_rsrc = "";
  instrument().reboot_ms = 100;
  start();
  ViSession rm = open_rm();
  ViSession vi = open(kMainRsrc, rm);
  ASSERT_EQ(write(vi, "SYST:BOOT"), VI_SUCCESS);
  clock.wait_ms(100);
  EXPECT_EQ(find("USB?*", nullptr, rm), std::vector<std::string>{kMainRsrc});
  EXPECT_EQ(write(vi, "*IDN?\n"), VI_ERROR_CONN_LOST);  // same string, still a dead session
  ViSession boot = open(kMainRsrc, rm);
  EXPECT_EQ(query(boot, "*IDN?\n").bytes, instrument().boot_idn);
}

TEST_F(SimMainFirmware, AJumpLeavesTheOtherInstrumentsAlone) {
  config.instruments.emplace_back();
  instrument(1).name = "other";
  instrument(1).main_rsrc = "USB1::0x1234::0x5678::SIM0002::INSTR";
  start();
  ViSession first = open(kMainRsrc);
  ViSession second = open("USB1::0x1234::0x5678::SIM0002::INSTR");
  ASSERT_EQ(control_out(first, 0x40), VI_SUCCESS);
  EXPECT_EQ(query(second, "*IDN?\n").bytes, instrument(1).main_idn);
  EXPECT_EQ(find("USB?*"), std::vector<std::string>{"USB1::0x1234::0x5678::SIM0002::INSTR"});
  EXPECT_EQ(simulator->state(1), InstrumentState::kMain);
}

TEST_F(SimMainFirmware, InstrumentMayStartInItsBootloader) {
  instrument().start = sim::StartState::kBootloader;
  start();
  EXPECT_EQ(find("USB?*"), std::vector<std::string>{kBootRsrc});
  ViSession vi = open(kBootRsrc);
  EXPECT_EQ(query(vi, "*idn?\n").bytes, instrument().boot_idn);
  // Vendor requests in the bootloader change nothing.
  EXPECT_EQ(control_out(vi, 0x40), VI_SUCCESS);
  EXPECT_EQ(query(vi, "*IDN?\n").bytes, instrument().boot_idn);
  EXPECT_EQ(simulator->jumps(0), 0u);
}

}  // namespace
