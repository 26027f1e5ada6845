// The three ways of making the main firmware jump, with their waits.
#include "link/bootloader_entry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/session.h"
#include "support/sim_run.h"

namespace {

class Jump : public SimRun {
 protected:
  void SetUp() override {
    sim::InstrumentConfig c = instrument(kMainA, kBootA);
    c.control_jump = false;  // only the jump command counts, so requests stay visible
    c.jump_command = ":SYST:BOOT";
    connect(sim::SimConfig{{c}, faults, ""});
    int selection = 0;
    ASSERT_EQ(open(&selection), 0);
    os.clear();
    strcpy(u.upd.jump_boot, ":SYST:BOOT");
  }
  // The time of the first write after the open, on the test's clock.
  uint64_t write_time() const {
    for (const sim::CallRecord& call : sim->transcript()) {
      if (call.function == "viWrite") return call.time_ms;
    }
    return ~0ull;
  }
  sim::GlobalFaults faults;
};

TEST_F(Jump, PanelJumpWritesThenWaitsAndSendsNoRequestWithoutCommReset) {
  EXPECT_EQ(panel_jump_boot(u, u.upd.jump_boot, u.upd.src_data, u.upd.comm_reset), 0);
  EXPECT_EQ(os.log(), "sleep 100\n");
  EXPECT_EQ(writes(), std::vector<std::string>{":SYST:BOOT"});
  EXPECT_TRUE(sim->control_requests(0).empty());
  EXPECT_EQ(sim->jumps(0), 1u);
}

TEST_F(Jump, PanelJumpWithCommResetSendsTheInterfaceRequestAfterTheWait) {
  u.upd.comm_reset = 1;
  EXPECT_EQ(panel_jump_boot(u, u.upd.jump_boot, u.upd.src_data, u.upd.comm_reset), 0);
  EXPECT_EQ(os.log(), "sleep 100\n");
  std::vector<sim::ControlRequest> requests = sim->control_requests(0);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(requests[0].in);
  EXPECT_EQ(requests[0].bmRequestType, 0x41);
  EXPECT_EQ(requests[0].bRequest, 0);
  EXPECT_EQ(requests[0].wValue, 0);
  EXPECT_EQ(requests[0].wIndex, 0);
  EXPECT_EQ(requests[0].wLength, 0);
  EXPECT_EQ(requests[0].data, "");
}

TEST_F(Jump, CommJumpPrintsAndSendsTheDeviceRequestOnly) {
  comm_jump_boot(u, u.upd.src_data);
  EXPECT_EQ(os.log(), "<->jump bootloader....\\n\n");
  EXPECT_TRUE(writes().empty());
  std::vector<sim::ControlRequest> requests = sim->control_requests(0);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].bmRequestType, 0x40);
  EXPECT_EQ(requests[0].bRequest, 0);
  EXPECT_EQ(requests[0].wLength, 0);
}

TEST_F(Jump, OtherJumpWaitsASecondBeforeTheWrite) {
  uint64_t start = os.now_ms();
  EXPECT_EQ(other_jump_boot(u, u.upd.jump_boot), 0);
  EXPECT_EQ(os.log(), "sleep 1000\n");
  EXPECT_EQ(write_time() - start, 1000u);
  EXPECT_EQ(writes(), std::vector<std::string>{":SYST:BOOT"});
}

TEST_F(Jump, JumpCommandIsSentExactlyAsStoredWhateverTheFraming) {
  strcpy(u.upd.des_data, ":HDR ");
  u.upd.headerlen = 5;
  u.upd.i488_en = 1;
  u.upd.binary = 1;
  EXPECT_EQ(other_jump_boot(u, u.upd.jump_boot), 0);
  EXPECT_EQ(writes(), std::vector<std::string>{":SYST:BOOT"});
}

TEST_F(Jump, EmptyJumpCommandWritesZeroBytes) {
  u.upd.jump_boot[0] = '\0';
  EXPECT_EQ(panel_jump_boot(u, u.upd.jump_boot, u.upd.src_data, u.upd.comm_reset), 0);
  EXPECT_EQ(writes(), std::vector<std::string>{""});
  EXPECT_EQ(sim->jumps(0), 0u);
}

class JumpWriteFails : public Jump {
 protected:
  void SetUp() override {
    faults.fail_write = {1};
    Jump::SetUp();
  }
};

TEST_F(JumpWriteFails, PanelAndOtherJumpReportFivePauseAndFail) {
  EXPECT_EQ(panel_jump_boot(u, u.upd.jump_boot, u.upd.src_data, u.upd.comm_reset), 1);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (5)\\n\npause\n");  // no wait after a failed write
  EXPECT_EQ(sim->jumps(0), 0u);
}

}  // namespace
