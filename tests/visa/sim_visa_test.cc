// The simulated instruments' VISA objects, through the ten calls only:
// searches, find lists, opens, closes, attributes, time-outs and partial reads.
#include <gtest/gtest.h>

#include "support/sim_fixture.h"

namespace {

constexpr char kSecondRsrc[] = "USB1::0x1234::0x5678::SIM0002::INSTR";

class SimVisa : public SimFixture {
 protected:
  SimVisa() {
    config.instruments.emplace_back();
    instrument(1).name = "second";
    instrument(1).main_rsrc = kSecondRsrc;
  }
};

struct SearchCase {
  const char* expr;
  ViStatus status;
  std::vector<std::string> found;
};

TEST_F(SimVisa, SearchMatchesWholeResourceStringsOfThePresentInstruments) {
  start();
  const SearchCase cases[] = {
      {"USB[0-9]*::?*::INSTR", VI_SUCCESS, {kMainRsrc, kSecondRsrc}},
      {kSecondRsrc, VI_SUCCESS, {kSecondRsrc}},
      {"USB1::?*", VI_SUCCESS, {kSecondRsrc}},
      {"USB0::0x1234::0x5678::SIM0001", VI_ERROR_RSRC_NFOUND, {}},  // a prefix is no match
      {"GPIB[0-9]*::?*::INSTR", VI_ERROR_RSRC_NFOUND, {}},
      {"USB[0-9::?*", VI_ERROR_INV_EXPR, {}},
  };
  for (const SearchCase& c : cases) {
    ViStatus status = VI_SUCCESS;
    EXPECT_EQ(find(c.expr, &status), c.found) << c.expr;
    EXPECT_EQ(status, c.status) << c.expr;
  }
}

TEST_F(SimVisa, FailedSearchLeavesNoListAndAnEmptyDescription) {
  start();
  ViSession rm = open_rm();
  ViFindList list = 77;
  ViUInt32 count = 77;
  char desc[VI_FIND_BUFLEN] = "old";
  EXPECT_EQ(v.viFindRsrc(rm, "GPIB?*", &list, &count, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(list, 0u);
  EXPECT_EQ(count, 0u);
  EXPECT_STREQ(desc, "");
  EXPECT_EQ(v.viFindRsrc(rm, "USB[", &list, &count, desc), VI_ERROR_INV_EXPR);
  EXPECT_EQ(v.viFindRsrc(rm + 1000, "USB?*", &list, &count, desc), VI_ERROR_INV_OBJECT);
}

TEST_F(SimVisa, FindListIsWalkedInOrderAndEnds) {
  start();
  ViSession rm = open_rm();
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN] = "";
  ASSERT_EQ(v.viFindRsrc(rm, "USB?*", &list, &count, desc), VI_SUCCESS);
  EXPECT_EQ(count, 2u);
  EXPECT_STREQ(desc, kMainRsrc);
  EXPECT_EQ(v.viFindNext(list, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, kSecondRsrc);
  EXPECT_EQ(v.viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(v.viFindNext(list, desc), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(v.viClose(list), VI_SUCCESS);
  EXPECT_EQ(v.viFindNext(list, desc), VI_ERROR_INV_OBJECT);
}

TEST_F(SimVisa, OpenReachesPresentResourcesOnly) {
  start();
  ViSession rm = open_rm();
  ViSession vi = 55;
  EXPECT_EQ(v.viOpen(rm, "USB0::0x9999::0x0001::NONE::INSTR", VI_NULL, 1000, &vi), VI_ERROR_RSRC_NFOUND);
  EXPECT_EQ(vi, 0u);
  EXPECT_EQ(v.viOpen(rm, kSecondRsrc, VI_NULL, 1000, &vi), VI_SUCCESS);
  EXPECT_EQ(query(vi, "*IDN?\n").bytes, instrument(1).main_idn);
  // Resource names are not case-sensitive.
  ViSession lower = 0;
  EXPECT_EQ(v.viOpen(rm, "usb0::0x1234::0x5678::sim0001::instr", VI_NULL, 1000, &lower), VI_SUCCESS);
  EXPECT_NE(lower, vi);
  EXPECT_EQ(simulator->transcript().back().instrument, 0);
}

TEST_F(SimVisa, ClosingAResourceManagerEndsWhatWasOpenedThroughIt) {
  start();
  ViSession rm1 = open_rm();
  ViSession rm2 = open_rm();
  EXPECT_NE(rm1, rm2);
  ViSession s1 = open(kMainRsrc, rm1);
  ViSession s2 = open(kMainRsrc, rm2);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(v.viFindRsrc(rm1, "USB?*", &list, &count, desc), VI_SUCCESS);

  EXPECT_EQ(v.viClose(rm1), VI_SUCCESS);
  EXPECT_EQ(write(s1, "*IDN?\n"), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(v.viFindNext(list, desc), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(v.viClose(s1), VI_ERROR_INV_OBJECT);
  EXPECT_EQ(v.viClose(rm1), VI_ERROR_INV_OBJECT);
  ViSession again = 0;
  EXPECT_EQ(v.viOpen(rm1, kMainRsrc, VI_NULL, 1000, &again), VI_ERROR_INV_OBJECT);
  // The other resource manager's session goes on.
  EXPECT_EQ(query(s2, "*IDN?\n").bytes, instrument(0).main_idn);
  EXPECT_EQ(simulator->open_handles(), 2u);
  EXPECT_EQ(v.viClose(s2), VI_SUCCESS);
  EXPECT_EQ(v.viClose(rm2), VI_SUCCESS);
  EXPECT_EQ(simulator->open_handles(), 0u);
  EXPECT_EQ(v.viClose(12345), VI_ERROR_INV_OBJECT);
}

TEST_F(SimVisa, ReadWithNothingQueuedTimesOutAfterTheSessionTimeOut) {
  start();
  ViSession vi = open(kMainRsrc);
  uint64_t t0 = clock.now_ms();
  EXPECT_EQ(read(vi).status, VI_ERROR_TMO);
  EXPECT_EQ(clock.now_ms() - t0, 2000u);  // the default

  EXPECT_EQ(v.viSetAttribute(vi, VI_ATTR_TMO_VALUE, 350), VI_SUCCESS);
  t0 = clock.now_ms();
  Reply r = read(vi);
  EXPECT_EQ(r.status, VI_ERROR_TMO);
  EXPECT_EQ(r.bytes, "");
  EXPECT_EQ(clock.now_ms() - t0, 350u);

  // An answered query takes no time at all.
  t0 = clock.now_ms();
  EXPECT_EQ(query(vi, "*IDN?\n").status, VI_SUCCESS);
  EXPECT_EQ(clock.now_ms(), t0);

  // Waiting for ever for a reply that never comes would hang the caller.
  EXPECT_EQ(v.viSetAttribute(vi, VI_ATTR_TMO_VALUE, VI_TMO_INFINITE), VI_SUCCESS);
  EXPECT_EQ(read(vi).status, VI_ERROR_TMO);
  EXPECT_EQ(clock.now_ms(), t0);
}

TEST_F(SimVisa, SetAttributeKnowsOnlyTheSessionTimeOut) {
  start();
  ViSession rm = open_rm();
  ViSession vi = open(kMainRsrc, rm);
  EXPECT_EQ(v.viSetAttribute(vi, 0x3FFF0018u, 1), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(v.viSetAttribute(rm, VI_ATTR_TMO_VALUE, 1000), VI_ERROR_NSUP_ATTR);
  EXPECT_EQ(v.viSetAttribute(999, VI_ATTR_TMO_VALUE, 1000), VI_ERROR_INV_OBJECT);
  if (sizeof(ViAttrState) > 4) {
    // What a caller that passes a 32-bit value in a 64-bit slot may leave.
    ViAttrState garbage = static_cast<ViAttrState>((uint64_t{0xDEAD} << 32) | 2000u);
    EXPECT_EQ(v.viSetAttribute(vi, VI_ATTR_TMO_VALUE, garbage), VI_ERROR_INV_PARAMETER);
  }
  uint64_t t0 = clock.now_ms();
  EXPECT_EQ(read(vi).status, VI_ERROR_TMO);
  EXPECT_EQ(clock.now_ms() - t0, 2000u);  // the refused values changed nothing
}

TEST_F(SimVisa, LongReplyComesInPiecesWithMaxCount) {
  instrument().main_idn = "0123456789abcdefghijXYZ\n";
  start();
  ViSession vi = open(kMainRsrc);
  ASSERT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
  Reply a = read(vi, 10);
  EXPECT_EQ(a.status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(a.bytes, "0123456789");
  Reply b = read(vi, 10);
  EXPECT_EQ(b.status, VI_SUCCESS_MAX_CNT);
  EXPECT_EQ(b.bytes, "abcdefghij");
  Reply c = read(vi, 10);
  EXPECT_EQ(c.status, VI_SUCCESS);
  EXPECT_EQ(c.bytes, "XYZ\n");

  // A reply that exactly fills the count is complete.
  ASSERT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
  EXPECT_EQ(read(vi, 24).status, VI_SUCCESS);

  // A new message discards the rest of an unread reply.
  ASSERT_EQ(write(vi, "*IDN?\n"), VI_SUCCESS);
  EXPECT_EQ(read(vi, 5).status, VI_SUCCESS_MAX_CNT);
  ASSERT_EQ(write(vi, "OUTP ON\n"), VI_SUCCESS);
  EXPECT_EQ(read(vi).status, VI_ERROR_TMO);
}

TEST_F(SimVisa, NoActiveSimulatorIsASystemError) {
  ViSession rm = 0;
  EXPECT_EQ(v.viOpenDefaultRM(&rm), VI_ERROR_SYSTEM_ERROR);
  start();
  EXPECT_EQ(v.viOpenDefaultRM(&rm), VI_SUCCESS);
}

TEST_F(SimVisa, TranscriptHasOneLinePerCallWithTheBytes) {
  config.instruments.pop_back();
  start();
  ViSession rm = open_rm();
  find("USB?*", nullptr, rm);
  ViSession vi = open(kMainRsrc, rm);
  v.viSetAttribute(vi, VI_ATTR_TMO_VALUE, 2000);
  query(vi, "*IDN?\n");
  clock.wait_ms(40);
  write(vi, std::string("A\"\\\x01", 4));
  control_in(vi);
  control_out(vi, 0x41);
  v.viClose(rm);
  EXPECT_EQ(simulator->transcript_text(),
            "t=0 viOpenDefaultRM -> VI_SUCCESS rm=1\n"
            "t=0 viFindRsrc rm=1 expr=\"USB?*\" -> VI_SUCCESS list=2 count=1 "
            "desc=\"USB0::0x1234::0x5678::SIM0001::INSTR\"\n"
            "t=0 viFindNext list=2 -> VI_ERROR_RSRC_NFOUND\n"
            "t=0 viOpen rm=1 rsrc=\"USB0::0x1234::0x5678::SIM0001::INSTR\" mode=0 timeout=1000 "
            "-> VI_SUCCESS vi=3 [sim0]\n"
            "t=0 viSetAttribute obj=3 attr=0x3FFF001A value=2000 -> VI_SUCCESS\n"
            "t=0 viWrite vi=3 [sim0] \"*IDN?\\n\" -> VI_SUCCESS count=6\n"
            "t=0 viRead vi=3 [sim0] max=100 -> VI_SUCCESS \"TMSIM,TM1000,SIM0001,1.03\\n\"\n"
            "t=40 viWrite vi=3 [sim0] \"A\\\"\\\\\\x01\" -> VI_SUCCESS count=4\n"
            "t=40 viUsbControlIn vi=3 [sim0] 0xC0 0 0 0 10 -> VI_SUCCESS \"mf_1.03\"\n"
            "t=40 viUsbControlOut vi=3 [sim0] 0x41 0 0 0 0 \"\" -> VI_SUCCESS\n"
            "t=40 viClose obj=1 -> VI_SUCCESS\n");
}

}  // namespace
