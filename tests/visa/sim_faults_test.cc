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

TEST_F(SimFaults, ResourceManagerOpenFailsAtTheGivenCallNumbers) {
  config.faults.fail_rm_open = {2};
  start();
  ViSession first = 0, second = 99, third = 0;
  EXPECT_EQ(v.viOpenDefaultRM(&first), VI_SUCCESS);
  EXPECT_EQ(v.viOpenDefaultRM(&second), VI_ERROR_SYSTEM_ERROR);
  EXPECT_EQ(second, 0u);
  EXPECT_EQ(v.viOpenDefaultRM(&third), VI_SUCCESS);
  EXPECT_EQ(simulator->open_handles(), 2u);
}

TEST_F(SimFaults, SearchFindsNothingAtTheGivenCallNumbers) {
  config.faults.fail_search = {2};
  start();
  ViStatus status = VI_SUCCESS;
  EXPECT_EQ(find("USB?*", &status), std::vector<std::string>{kMainRsrc});
  EXPECT_TRUE(find("USB?*", &status).empty());
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(find("USB?*", &status), std::vector<std::string>{kMainRsrc});
}

// A lost control-IN request gives no data; a lost control-OUT request makes
// no jump, and the next one does.
TEST_F(SimFaults, ControlRequestsFailAtTheGivenCallNumbers) {
  config.faults.fail_control_in = {1};
  config.faults.fail_control_out = {1};
  start();
  ViSession vi = open(kMainRsrc);
  Reply lost = control_in(vi);
  EXPECT_EQ(lost.status, VI_ERROR_IO);
  EXPECT_EQ(lost.bytes, "");
  EXPECT_EQ(control_in(vi).bytes, "mf_1.03");
  EXPECT_EQ(control_out(vi, 0x40), VI_ERROR_IO);
  EXPECT_EQ(simulator->state(0), InstrumentState::kMain);
  EXPECT_EQ(control_out(vi, 0x40), VI_SUCCESS);
  EXPECT_EQ(simulator->state(0), InstrumentState::kRebooting);
}

TEST_F(SimFaults, CallCountsNumberEveryFunctionAndAllTogether) {
  config.faults.fail_write = {1};
  start();
  ViSession vi = open(kMainRsrc);  // viOpenDefaultRM, viOpen
  find("USB?*");                   // viOpenDefaultRM, viFindRsrc, viFindNext
  write(vi, "*IDN?\n");            // fails, and still counts
  read(vi);
  control_in(vi);
  control_out(vi, 0x41, 7);
  v.viClose(vi);
  const sim::CallCounts& n = simulator->call_counts();
  EXPECT_EQ(n.rm_opens, 2u);
  EXPECT_EQ(n.opens, 1u);
  EXPECT_EQ(n.searches, 1u);
  EXPECT_EQ(n.writes, 1u);
  EXPECT_EQ(n.reads, 1u);
  EXPECT_EQ(n.control_ins, 1u);
  EXPECT_EQ(n.control_outs, 1u);
  EXPECT_EQ(n.all, 10u);  // and viFindNext, viClose
}

// The cable is pulled at the 6th call: from then on every call fails and
// nothing reaches the instrument, which keeps running its bootloader with
// what it had programmed. Plugged in again, a new resource manager finds it
// as it was.
TEST_F(SimFaults, FromTheGivenCallOnEveryCallFailsAndTheInstrumentKeepsItsState) {
  instrument().start = sim::StartState::kBootloader;
  config.faults.fail_from = 6;
  start();
  ViSession rm = open_rm();                                         // 1
  ViSession vi = open(kBootRsrc, rm);                               // 2
  ASSERT_EQ(query(vi, "\"&e@00010000$\"").bytes, "e\n");            // 3, 4
  ASSERT_EQ(write(vi, "\"&w@00010000$\""), VI_SUCCESS);              // 5
  EXPECT_EQ(read(vi).status, VI_ERROR_CONN_LOST);                   // 6: unplugged
  EXPECT_EQ(write(vi, "\"&d#AABB$\""), VI_ERROR_CONN_LOST);
  EXPECT_EQ(control_out(vi, 0x40), VI_ERROR_CONN_LOST);
  EXPECT_EQ(v.viSetAttribute(vi, VI_ATTR_TMO_VALUE, 500), VI_ERROR_CONN_LOST);
  ViSession other = 99;
  EXPECT_EQ(v.viOpenDefaultRM(&other), VI_ERROR_SYSTEM_ERROR);
  ViStatus status = VI_SUCCESS;
  EXPECT_TRUE(find("USB?*", &status, rm).empty());
  EXPECT_EQ(status, VI_ERROR_RSRC_NFOUND);
  ViSession again = 0;
  EXPECT_EQ(v.viOpen(rm, kBootRsrc, VI_NULL, 1000, &again), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(v.viClose(rm), VI_ERROR_CONN_LOST);
  EXPECT_EQ(simulator->bootloader(0).command_count('d'), 0u);

  simulator->set_faults({});
  ViSession fresh = open(kBootRsrc);
  EXPECT_EQ(query(fresh, "\"&d#AABB$\"").bytes, "d\n");  // the write address survived
  EXPECT_EQ(simulator->flash(0, 0x10000, 3), (std::vector<uint8_t>{0xAA, 0xBB, 0xFF}));
  EXPECT_EQ(simulator->state(0), InstrumentState::kBootloader);
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
