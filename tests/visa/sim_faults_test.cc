// Faults on demand, through the ten VISA calls: failed opens, writes and
// reads, read time-outs, wrong echoes, instruments that are late or never
// come back after a jump, empty searches, and the reply hook.
#include <gtest/gtest.h>

#include "support/sim_fixture.h"

namespace {

using sim::InstrumentState;

class SimFaults : public SimFixture {};

TEST_F(SimFaults, OpenFailsAtTheGivenCallNumbers) {
  config.faults.fail_open = {2, 3};
  start();
  ViSession rm = open_rm();
  ViSession vi = 0;
  EXPECT_EQ(v.viOpen(rm, kMainRsrc, VI_NULL, 1000, &vi), VI_SUCCESS);
  EXPECT_EQ(v.viOpen(rm, kMainRsrc, VI_NULL, 1000, &vi), VI_ERROR_RSRC_BUSY);
  EXPECT_EQ(vi, 0u);
  EXPECT_EQ(v.viOpen(rm, kMainRsrc, VI_NULL, 1000, &vi), VI_ERROR_RSRC_BUSY);
  EXPECT_EQ(v.viOpen(rm, kMainRsrc, VI_NULL, 1000, &vi), VI_SUCCESS);
}

TEST_F(SimFaults, FailedWriteDeliversNothing) {
  config.faults.fail_write = {1, 3};
  start();
  ViSession vi = open(kMainRsrc);
  ViUInt32 count = 99;
  const unsigned char idn[] = "*IDN?\n";
  EXPECT_EQ(v.viWrite(vi, idn, 6, &count), VI_ERROR_IO);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(read(vi).status, VI_ERROR_TMO);  // no reply was queued
  EXPECT_EQ(write(vi, "OUTP ON\n"), VI_SUCCESS);
  EXPECT_EQ(write(vi, "SYST:BOOT"), VI_ERROR_IO);  // the jump command is lost too
  EXPECT_EQ(simulator->state(0), InstrumentState::kMain);
  EXPECT_EQ(simulator->machine_commands(0), std::vector<std::string>{"OUTP ON\n"});
  EXPECT_EQ(simulator->writes_to(0), std::vector<std::string>{"OUTP ON\n"});
}

TEST_F(SimFaults, FailedReadLosesTheReply) {
  config.faults.fail_read = {1};
  start();
  ViSession vi = open(kMainRsrc);
  ASSERT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
  uint64_t t0 = clock.now_ms();
  EXPECT_EQ(read(vi).status, VI_ERROR_IO);
  EXPECT_EQ(clock.now_ms(), t0);
  EXPECT_EQ(read(vi).status, VI_ERROR_TMO);
  EXPECT_EQ(query(vi, "*IDN?\n").bytes, instrument().main_idn);
}

TEST_F(SimFaults, ReadTimeOutWaitsTheSessionTimeOutThoughAReplyWasQueued) {
  config.faults.timeout_read = {2};
  start();
  ViSession vi = open(kMainRsrc);
  EXPECT_EQ(query(vi, "*IDN?\n").status, VI_SUCCESS);
  ASSERT_EQ(v.viSetAttribute(vi, VI_ATTR_TMO_VALUE, 1200), VI_SUCCESS);
  uint64_t t0 = clock.now_ms();
  Reply r = query(vi, "*IDN?\n");
  EXPECT_EQ(r.status, VI_ERROR_TMO);
  EXPECT_EQ(r.bytes, "");
  EXPECT_EQ(clock.now_ms() - t0, 1200u);
  EXPECT_EQ(query(vi, "*IDN?\n").status, VI_SUCCESS);
}

TEST_F(SimFaults, FirstSearchesFindNothing) {
  config.faults.empty_searches = 2;
  start();
  ViStatus status = VI_SUCCESS;
  EXPECT_TRUE(find("USB?*", &status).empty());
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
  EXPECT_TRUE(find("USB?*", &status).empty());
  EXPECT_EQ(find("USB?*", &status), std::vector<std::string>{kMainRsrc});
  EXPECT_EQ(status, VI_SUCCESS);
}

class SimEchoFaults : public SimFixture {
 protected:
  SimEchoFaults() { instrument().start = sim::StartState::kBootloader; }
  std::string send(ViSession vi, std::string_view message) { return query(vi, message).bytes; }
};

TEST_F(SimEchoFaults, FirstEchoesCarryAWrongLetter) {
  instrument().faults.wrong_echo_first = 2;
  start();
  ViSession vi = open(kBootRsrc);
  EXPECT_EQ(send(vi, "\"&b#0001$\""), "!\n");
  EXPECT_EQ(send(vi, "\"&r$\""), "2.05#0#HW3");  // version queries are not echoes
  EXPECT_EQ(send(vi, "\"&b#0001$\""), "!\n");
  EXPECT_EQ(send(vi, "\"&b#0001$\""), "b\n");
  EXPECT_EQ(simulator->bootloader(0).commands()[0].reply, "!\n");
}

TEST_F(SimEchoFaults, EchoesAtTheGivenNumbersCarryAWrongLetter) {
  instrument().faults.wrong_echo_at = {2, 4};
  start();
  ViSession vi = open(kBootRsrc);
  std::string replies;
  for (const char* line : {"\"&b#0001$\"", "\"&v#00$\"", "\"&l#80$\"", "\"&x$\"", "\"&x$\""})
    replies += send(vi, line);
  EXPECT_EQ(replies, "b\n!\nl\n!\nx\n");
}

class SimRebootFaults : public SimFixture {
 protected:
  void jump() {
    ViSession vi = open(kMainRsrc);
    ASSERT_EQ(write(vi, "SYST:BOOT"), VI_SUCCESS);
  }
};

TEST_F(SimRebootFaults, LateInstrumentComesBackAfterTheExtraTime) {
  instrument().reboot_ms = 1500;
  instrument().faults.late_ms = 4000;
  start();
  jump();
  clock.wait_ms(5499);
  EXPECT_TRUE(find("USB?*").empty());
  EXPECT_EQ(simulator->state(0), InstrumentState::kRebooting);
  clock.wait_ms(1);
  EXPECT_EQ(find("USB?*"), std::vector<std::string>{kBootRsrc});
}

TEST_F(SimRebootFaults, InstrumentThatNeverComesBack) {
  instrument().faults.never_back = true;
  start();
  jump();
  clock.wait_ms(3600u * 1000u);
  ViStatus status = VI_SUCCESS;
  EXPECT_TRUE(find("USB?*", &status).empty());
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
  ViSession rm = open_rm();
  ViSession vi = 0;
  EXPECT_EQ(v.viOpen(rm, kBootRsrc, VI_NULL, 1000, &vi), VI_ERROR_RSRC_NFOUND);
}

TEST_F(SimFaults, ReplyHookSeesEveryAnsweredWriteAndMayChangeTheReply) {
  instrument().reboot_ms = 0;
  start();
  std::vector<std::string> seen;
  simulator->set_reply_hook([&](const sim::ReplyContext& ctx, std::string* reply) {
    seen.push_back(std::string(ctx.written));
    if (ctx.state == InstrumentState::kMain && ctx.written == "*IDN?\n") *reply = "fail\n";
    if (ctx.command && ctx.command->letter == 'b') reply->clear();  // no answer at all
    if (ctx.command && ctx.command->letter == 'v') *reply = "w\n";
  });
  ViSession vi = open(kMainRsrc);
  EXPECT_EQ(query(vi, "*IDN?\n").bytes, "fail\n");
  EXPECT_EQ(query(vi, "syst:info?\n").bytes, instrument().syst_info);
  ASSERT_EQ(write(vi, "SYST:BOOT"), VI_SUCCESS);
  ViSession boot = open(kBootRsrc);
  EXPECT_EQ(query(boot, "\"&b#0001$\"").status, VI_ERROR_TMO);
  EXPECT_EQ(query(boot, "\"&v#00$\"").bytes, "w\n");
  EXPECT_EQ(query(boot, "*IDN?\n").bytes, instrument().boot_idn);
  // The jump command itself is not answered, so the hook does not see it.
  EXPECT_EQ(seen, (std::vector<std::string>{"*IDN?\n", "syst:info?\n", "\"&b#0001$\"", "\"&v#00$\"", "*IDN?\n"}));
}

}  // namespace
