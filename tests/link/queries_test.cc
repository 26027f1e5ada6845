// Queries, probes and version checks against simulated instruments.
#include "link/queries.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "link/session.h"
#include "script/version_query.h"
#include "support/sim_run.h"

namespace {

class Queries : public SimRun {
 protected:
  // Connects one instrument, changed by edit, and opens it at position 0.
  template <typename Edit>
  void open_one(Edit edit) {
    sim::InstrumentConfig c = instrument(kMainA, kBootA);
    edit(c);
    connect(sim::SimConfig{{c}, {}, ""});
    int selection = 0;
    ASSERT_EQ(open(&selection), 0);
    os.clear();
  }
  void open_one() {
    open_one([](sim::InstrumentConfig&) {});
  }
  void open_bootloader(const std::string& boot_version_reply = "2.05#0#HW3",
                       const std::string& main_version_reply = "1.03\n") {
    open_one([&](sim::InstrumentConfig& c) {
      c.start = sim::StartState::kBootloader;
      c.main_rsrc = kBootA;
      c.boot_version = boot_version_reply;
      c.main_version = main_version_reply;
    });
  }
  // The transfer command's frame as program_cmd leaves it in des_data.
  void transfer_frame(const char* header, bool binary, const std::string& frame) {
    FileSettings& upd = u.upd;
    upd.binary = binary;
    upd.headerlen = static_cast<int>(strlen(header));
    upd.i488_en = upd.headerlen > 0;
    memset(upd.des_data, 0, sizeof upd.des_data);
    memcpy(upd.des_data, header, strlen(header));
    memcpy(upd.des_data + upd.headerlen, frame.data(), frame.size());
  }
  std::string last_write() const {
    std::vector<std::string> w = writes();
    return w.empty() ? "" : w.back();
  }
};

TEST_F(Queries, VisaQueryWritesTheFrameAndReadsAtMostAHundredBytes) {
  open_one([](sim::InstrumentConfig& c) { c.main_idn = std::string(150, 'Z'); });
  char reply[kReplySize];
  EXPECT_EQ(visa_query(u, "*IDN?\n", reply, 6, 1), 1);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (6)\\n\n");
  EXPECT_EQ(std::string(reply), std::string(100, 'Z'));  // ended right after the bytes read
  EXPECT_EQ(u.link.status, VI_SUCCESS_MAX_CNT);
}

TEST_F(Queries, VisaQueryWithoutReportIsSilentOnATimeout) {
  open_one();
  char reply[kReplySize];
  uint64_t before = os.now_ms();
  EXPECT_EQ(visa_query(u, "nothing to answer\n", reply, 18, 0), 1);
  EXPECT_EQ(os.log(), "");
  EXPECT_EQ(os.now_ms() - before, 2000u);  // the session's I/O time-out
  EXPECT_STREQ(reply, "");
}

TEST_F(Queries, VisaQueryWriteFailureIsFiveWhateverTheReportFlag) {
  sim::SimConfig config{{instrument(kMainA, kBootA)}, {}, ""};
  config.faults.fail_write = {1};
  connect(config);
  int selection = 0;
  ASSERT_EQ(open(&selection), 0);
  os.clear();
  char reply[kReplySize];
  EXPECT_EQ(visa_query(u, "*IDN?\n", reply, 6, 0), 1);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (5)\\n\n");
  EXPECT_GT(sim->open_handles(), 0u);  // visa_query leaves the sessions open
}

TEST_F(Queries, VisaWriteSendsTheTextAndClosesBothSessionsOnFailure) {
  sim::SimConfig config{{instrument(kMainA, kBootA)}, {}, ""};
  config.faults.fail_write = {2};
  connect(config);
  int selection = 0;
  ASSERT_EQ(open(&selection), 0);
  EXPECT_EQ(visa_write(u, ":SYST:BEEP"), 0);
  EXPECT_EQ(writes(), std::vector<std::string>{":SYST:BEEP"});  // no line end added
  os.clear();
  EXPECT_EQ(visa_write(u, ":SYST:BEEP"), 1);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (5)\\n\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(Queries, MainNowVersionTellsMainFromBootloader) {
  open_one();
  EXPECT_EQ(main_now_version(u, 0), kProbeMain);
  EXPECT_EQ(main_now_version(u, 1), kProbeMain);  // no echo after the first attempt
  EXPECT_EQ(os.log(), "<->main *IDN = TMSIM,TM1000,SIM0001,1.03\\n\\n\n");
  EXPECT_EQ(writes(), (std::vector<std::string>{"*IDN?\n", "*IDN?\n"}));

  open_bootloader();
  EXPECT_EQ(main_now_version(u, 0), kProbeBootloader);
  EXPECT_EQ(os.log(), "<->main *IDN = boot,TM1000,SIM0001,2.05\\n\\n\n");
}

TEST_F(Queries, IdentityBeginningWithFIsMessageFour) {
  open_one([](sim::InstrumentConfig& c) { c.main_idn = "fault\n"; });
  EXPECT_EQ(main_now_version(u, 0), kQueryFailed);
  EXPECT_EQ(ask_idn(u), 1);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (4)\\nDevice is failed connected. (4)\\n\n");
}

TEST_F(Queries, AskIdnRefusesARunningBootloaderAndReportsFailedQueries) {
  open_one();
  EXPECT_EQ(ask_idn(u), 0);
  EXPECT_EQ(os.log(), "");  // nothing is echoed

  open_bootloader();
  EXPECT_EQ(ask_idn(u), 1);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (2)\\n\n");

  open_one([](sim::InstrumentConfig& c) { c.main_idn = ""; });  // never answers
  EXPECT_EQ(ask_idn(u), 1);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (6)\\nDevice is failed connected. (3)\\n\n");
  EXPECT_EQ(main_now_version(u, 0), kQueryFailed);  // adds nothing of its own
}

TEST_F(Queries, CommNowVersionReadsTheControlInReply) {
  open_one([](sim::InstrumentConfig& c) { c.main_control_in = "mf_1.03_and_more"; });
  EXPECT_EQ(comm_now_version(u, 0), kProbeMain);
  EXPECT_EQ(os.log(), "<->now version = mf_1.03_an\\n\n");  // 10 bytes at most
  std::vector<sim::ControlRequest> requests = sim->control_requests(0);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_TRUE(requests[0].in);
  EXPECT_EQ(requests[0].bmRequestType, 0xC0);
  EXPECT_EQ(requests[0].bRequest, 0);
  EXPECT_EQ(requests[0].wValue, 0);
  EXPECT_EQ(requests[0].wIndex, 0);
  EXPECT_EQ(requests[0].wLength, 10);

  open_bootloader();
  EXPECT_EQ(comm_now_version(u, 1), kProbeBootloader);
  EXPECT_EQ(os.log(), "");  // no echo after the first attempt
}

TEST_F(Queries, CommNowVersionTakesAFailedRequestAsMainFirmware) {
  open_one([](sim::InstrumentConfig& c) { c.main_control_in = "bt_fake"; });
  ViUInt32 count = 0;
  u.visa->viWrite(u.link.vi, reinterpret_cast<const unsigned char*>("SYST:BOOT"), 9, &count);
  // The session died with the jump: the request fails and nothing is echoed.
  EXPECT_EQ(comm_now_version(u, 0), kProbeMain);
  EXPECT_NE(u.link.status, VI_SUCCESS);
  EXPECT_EQ(os.log(), "");
}

struct QueryBytesCase {
  const char* name;
  const char* header;
  bool binary;
  std::string transfer_frame;
  std::string bootloader_query;
  std::string main_query;
};

TEST_F(Queries, VersionQueriesAreBuiltOverTheTransferFrame) {
  const QueryBytesCase cases[] = {
      {"text", "", false, "\"&t$\"", "\"&r$\"", "\"&r#00$\""},
      {"text with header", ":UPD ", false, "\"&t$\"", ":UPD \"&r$\"", ":UPD \"&r#00$\""},
      {"binary", "", true, "&\x0B$", std::string("&\x08$"), std::string("&\x08#\0$", 5)},
      {"binary with header", ":UPD ", true, "#13&\x0B$", ":UPD #13&\x08$",
       std::string(":UPD #15&\x08#\0$", 13)},
      {"other prefix", "", false, "\"^t$\"", "\"^r$\"", "\"^r#00$\""},
      // A transfer frame with a two-digit block header: the prefix still
      // stands right behind the query's own header.
      {"wide transfer header", "H ", true, "#211^\x0B#0102030405060$", "H #13^\x08$",
       std::string("H #15^\x08#\0$", 10)},
  };
  for (const QueryBytesCase& c : cases) {
    open_bootloader();
    u.upd.boot_version[0] = '\0';
    strcpy(u.upd.main_version, ",1.03,");
    transfer_frame(c.header, c.binary, c.transfer_frame);
    char reply[kReplySize];
    EXPECT_EQ(version_query(u, get_bootloader_version(u.upd), reply), 0) << c.name;
    EXPECT_EQ(last_write(), c.bootloader_query) << c.name;
    EXPECT_STREQ(reply, "2.05#0#HW3") << c.name;
    EXPECT_EQ(version_query(u, get_main_version(u.upd), reply), 0) << c.name;
    EXPECT_EQ(last_write(), c.main_query) << c.name;
    EXPECT_STREQ(reply, "1.03\n") << c.name;
    EXPECT_EQ(sim->bootloader(0).errors().size(), 0u) << c.name;
  }
}

TEST_F(Queries, FailedVersionQueryIsMessageOneAfterTheReadFailure) {
  open_one();  // the main firmware does not answer version queries
  transfer_frame("", false, "\"&t$\"");
  char reply[kReplySize];
  EXPECT_EQ(version_query(u, get_bootloader_version(u.upd), reply), kQueryFailed);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (6)\\nDevice is failed connected. (1)\\n\n");
  os.clear();
  strcpy(u.upd.main_version, ",1.03,");
  EXPECT_EQ(MAIN_version(u, get_main_version(u.upd), version_rules(u.upd)), kQueryFailed);
  EXPECT_EQ(Bootloader_version(u, get_bootloader_version(u.upd), version_rules(u.upd)), kQueryFailed);
}

struct BootCheckCase {
  const char* name;
  const char* boot_version;
  const char* hw_version;
  const char* reply;
  int result;
  const char* log;
};

TEST_F(Queries, BootloaderVersionChecksMajorPartHardwareAndRelease) {
  const BootCheckCase cases[] = {
      {"same major part", "2.10", "", "2.05#0#HW3", 0, "<->Bootloader version=2.05#0#HW3\\n\n"},
      {"other major part", "2.10", "", "1.99#0#HW3", 1,
       "<->Bootloader version=1.99#0#HW3\\n\n"
       "<12>Hardware version is HW3.\\nBootloader version is 1.99.\\nNot support this bootloader. (1)\\n\n"},
      {"ALL accepts anything", "ALLBOOT", "", "9.99#0#HW3", 0, "<->Bootloader version=9.99#0#HW3\\n\n"},
      {"no dot: whole text", "2", "", "2#0#HW3", 0, "<->Bootloader version=2#0#HW3\\n\n"},
      {"hardware in the list", "", "HW3,HW4", "2.05#0#HW3", 0, "<->Bootloader version=2.05#0#HW3\\n\n"},
      {"hardware as a substring", "", "HW3,HW4", "2.05#0#HW", 0, "<->Bootloader version=2.05#0#HW\\n\n"},
      {"hardware not in the list", "", "HW3,HW4", "2.05#0#HW5", 1,
       "<->Bootloader version=2.05#0#HW5\\n\n"
       "<12>Hardware version is HW5.\\nBootloader version is 2.05.\\nNot support this bootloader. (2)\\n\n"},
      {"hardware cut at its #", "", "HW3", "2.05#0#HW3#extra", 0,
       "<->Bootloader version=2.05#0#HW3#extra\\n\n"},
      {"no fields: release warning", "2.10", "HW3", "2.05", 0,
       "<->Bootloader version=2.05\\n\n<12>bootloader isn't release's version\\n\npause\n"},
      {"unreleased", "", "", "2.05#1#HW3", 0,
       "<->Bootloader version=2.05#1#HW3\\n\n<12>bootloader isn't release's version\\n\npause\n"},
  };
  for (const BootCheckCase& c : cases) {
    open_bootloader(c.reply);
    strcpy(u.upd.boot_version, c.boot_version);
    strcpy(u.upd.HW_version, c.hw_version);
    transfer_frame("", false, "\"&t$\"");
    EXPECT_EQ(Bootloader_version(u, get_bootloader_version(u.upd), version_rules(u.upd)), c.result) << c.name;
    EXPECT_EQ(os.log(), c.log) << c.name;
  }
}

struct MainCheckCase {
  const char* name;
  const char* main_version;
  const char* reply;
  int result;
  bool queried;
};

TEST_F(Queries, MainVersionMustOccurInCommas) {
  const MainCheckCase cases[] = {
      {"listed, with line feed", ",1.02,1.03,", "1.03\n", 0, true},
      {"carriage return stays", ",1.02,1.03,", "1.03\r\n", 1, true},
      {"prefix of a listed one", ",1.02,1.03,", "1.0", 1, true},
      {"list without outer commas", "1.02,1.03", "1.02", 1, true},
      {"empty setting: no query", "", "9.99\n", 0, false},
      {"ALL: no query", "ALL", "9.99\n", 0, false},
  };
  for (const MainCheckCase& c : cases) {
    open_bootloader("2.05#0#HW3", c.reply);
    strcpy(u.upd.main_version, c.main_version);
    transfer_frame("", false, "\"&t$\"");
    EXPECT_EQ(MAIN_version(u, get_main_version(u.upd), version_rules(u.upd)), c.result) << c.name;
    EXPECT_EQ(writes().size(), c.queried ? 1u : 0u) << c.name;
    EXPECT_EQ(os.log(), c.result ? "<12>main version don't support\\n\n" : "") << c.name;
  }
}

}  // namespace
