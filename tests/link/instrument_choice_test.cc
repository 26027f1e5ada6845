// The station's rule in place of the instrument dialogue: --select answers
// the list, --serial chooses by serial number at every search; and what the
// link tells a watcher of the run.
#include "link/instrument_choice.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "link/queries.h"
#include "link/session.h"
#include "support/sim_run.h"

namespace {

TEST(SerialOf, TakesTheSerialFieldOfUsbResourceStringsOnly) {
  const std::pair<const char*, const char*> cases[] = {
      {"USB0::0x1234::0x5678::SIM0001::INSTR", "SIM0001"},
      {"USB0::0x1234::0x5678::SIM0001::0::INSTR", "SIM0001"},  // with the interface number
      {"usb1::0x1234::0x5679::ab-12::INSTR", "ab-12"},
      {"USB::0x0957::0x1796::MY5::INSTR", "MY5"},
      {"USB0::0x1234::0x5678::SIM0001", ""},  // no resource class after it
      {"USB0::0x1234::0x5678", ""},
      {"TCPIP0::10.0.0.1::inst0::INSTR", ""},
      {"", ""},
  };
  for (const auto& [rsrc, serial] : cases) EXPECT_EQ(serial_of(rsrc), serial) << rsrc;
}

// Records what the link tells.
struct Watcher : LinkObserver {
  void instrument_chosen(const char* rsrc, bool after_jump) override {
    chosen.push_back(std::string(after_jump ? "after jump " : "") + rsrc);
  }
  void version_read(const char* query, const char* reply) override {
    read.push_back(std::string(query) + " = " + reply);
  }
  std::vector<std::string> chosen;
  std::vector<std::string> read;
};

const std::string kBootB = "USB0::0x1234::0x5679::SIM0002::INSTR";

class Choice : public SimRun {
 protected:
  // Two instruments of one model: the same product IDs, other serials.
  void connect_two() {
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    config.instruments.push_back(instrument(kMainB, kBootB));
    connect(std::move(config));
  }
  void jump(size_t i) {
    ViUInt32 count = 0;
    ASSERT_EQ(u.visa->viWrite(u.link.vi, reinterpret_cast<const unsigned char*>("SYST:BOOT"), 9, &count),
              VI_SUCCESS);
    ASSERT_EQ(sim->state(i), sim::InstrumentState::kRebooting);
  }
};

TEST_F(Choice, SerialChoosesWithoutTheDialogueAndFollowsTheBootloader) {
  connect_two();
  u.choice.serial = "SIM0002";
  Watcher watcher;
  u.observer = &watcher;
  int selection = -1;
  ASSERT_EQ(open(&selection), 0);
  EXPECT_EQ(os.log(), "<13>select 1:" + kMainB + "\\n\n");  // no list, no question, no input read
  EXPECT_EQ(selection, 1);
  jump(1);
  os.clear();
  ASSERT_EQ(reconnect(u, &selection), 0);
  EXPECT_STREQ(u.link.UsbStr, kBootB.c_str());
  EXPECT_NE(os.log().find("<13>select 1:" + kBootB + "\\n\n"), std::string::npos) << os.log();
  EXPECT_EQ(watcher.chosen, (std::vector<std::string>{kMainB, "after jump " + kBootB}));
}

// The position would pick the other instrument here: the chosen one is the
// first in the list and is not back yet when the reconnect searches.
TEST_F(Choice, SerialNeverTakesAnotherInstrumentWhereThePositionWould) {
  sim::InstrumentConfig late = instrument(kMainB, kBootB);
  late.reboot_ms = 5000;
  sim::SimConfig config;
  config.instruments.push_back(late);
  config.instruments.push_back(instrument(kMainA, kBootA));
  connect(config);

  int selection = 0;  // by position: instrument 0, SIM0002
  ASSERT_EQ(open(&selection), 0);
  jump(0);
  ASSERT_EQ(reconnect(u, &selection), 0);
  EXPECT_STREQ(u.link.UsbStr, kMainA.c_str()) << "the position took the other instrument";
  usb_close(u);

  connect(std::move(config));
  os.clear();
  u.choice.serial = "SIM0002";
  selection = -1;
  ASSERT_EQ(open(&selection), 0);
  jump(0);
  os.clear();
  EXPECT_EQ(reconnect(u, &selection), 1);
  EXPECT_EQ(os.log(), "sleep 3000\n<12>--serial=SIM0002: no instrument with this serial number; found " + kMainA +
                          "\\n\n");
}

TEST_F(Choice, RulesThatCannotChooseStopWithAMessageAndNoQuestion) {
  struct Case {
    int select;
    const char* serial;
    uint32_t empty_searches;
    std::string log;
  } cases[] = {
      {-1, "NOPE", 0,
       "<12>--serial=NOPE: no instrument with this serial number; found " + kMainA + ", " + kMainB + "\\n\n"},
      {-1, "SIM0001", 1, "<12>--serial=SIM0001: the search USB[0-9]*::?*::INSTR found no instrument\\n\n"},
      {2, "", 0,
       "<11>USB:LIST\\n\n<13> 0:" + kMainA + "\\n 1:" + kMainB + "\\n\n<9> 2:Search again\\n\n"
       "<11>please select:\n<12>--select=2: the search found 2 instrument(s)\\n\n"},
      {0, "", 1, "<12>--select=0: the search USB[0-9]*::?*::INSTR found no instrument\\n\n"},
  };
  for (const Case& c : cases) {
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    config.instruments.push_back(instrument(kMainB, kBootB));
    config.faults.empty_searches = c.empty_searches;
    connect(std::move(config));
    os.clear();
    os.answer({"0", "0"});  // an operator who would answer: never asked
    u.choice.select = c.select;
    u.choice.serial = c.serial;
    int selection = -1;
    EXPECT_EQ(open(&selection), 1) << c.log;
    EXPECT_EQ(os.log(), c.log);
    EXPECT_EQ(sim->open_handles(), 0u) << c.log;
  }
}

TEST_F(Choice, SelectAnswersEveryListAsTheOperatorWould) {
  connect_two();
  os.answer({"1"});
  int by_operator = -1;
  ASSERT_EQ(open(&by_operator), 0);
  std::string operator_text = os.text();
  usb_close(u);

  connect_two();
  os.clear();
  u.choice.select = 1;
  int by_rule = -1;
  ASSERT_EQ(open(&by_rule), 0);
  EXPECT_EQ(os.text(), operator_text);  // the same console, without reading an answer
  EXPECT_EQ(os.log().find("input"), std::string::npos) << os.log();
  EXPECT_EQ(by_rule, 1);
  EXPECT_STREQ(u.link.UsbStr, kMainB.c_str());
}

TEST_F(Choice, TheWatcherHearsEveryIdentityAndVersionReply) {
  connect_one();
  Watcher watcher;
  u.observer = &watcher;
  int selection = 0;
  ASSERT_EQ(open(&selection), 0);
  EXPECT_EQ(main_now_version(u, 0), kProbeMain);
  EXPECT_EQ(comm_now_version(u, 0), kProbeMain);
  EXPECT_EQ(ask_idn(u), 0);
  EXPECT_EQ(watcher.read, (std::vector<std::string>{"*IDN? = TMSIM,TM1000,SIM0001,1.03\n", "control-in = mf_1.03",
                                                    "*IDN? = TMSIM,TM1000,SIM0001,1.03\n"}));
}

}  // namespace
