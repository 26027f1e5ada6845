// The instrument selection dialogue, the open and the reconnect, against
// simulated instruments.
#include "link/session.h"

#include <gtest/gtest.h>

#include <string>

#include "support/sim_run.h"

namespace {

class Session : public SimRun {
 protected:
  // The dialogue of a first search that finds nothing, answered 3 and then
  // 0 (Search again), and a second one that finds instrument A, answered 0.
  static std::string nothing_then_one() {
    return "<11>USB:LIST\\n\n"
           "<9> 0:Search again\\n\n"
           "<11>please select:\n"
           "input 3\n"
           "<11>please select:\n"
           "input 0\n"
           "<11>USB:LIST\\n\n"
           "<13> 0:" + kMainA + "\\n\n"
           "<9> 1:Search again\\n\n"
           "<11>please select:\n"
           "input 0\n"
           "<13>select 0:" + kMainA + "\\n\n";
  }

  void connect_two() {
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    config.instruments.push_back(instrument(kMainB, ""));
    connect(std::move(config));
  }
  // Makes instrument 0 jump to its bootloader over the open session.
  void jump_now() {
    ViUInt32 count = 0;
    const char jump[] = "SYST:BOOT";
    ASSERT_EQ(u.visa->viWrite(u.link.vi, reinterpret_cast<const unsigned char*>(jump), 9, &count),
              VI_SUCCESS);
    ASSERT_EQ(sim->state(0), sim::InstrumentState::kRebooting);
  }
};

TEST_F(Session, NothingFoundOffersOnlySearchAgainUntilZero) {
  sim::SimConfig config;
  config.instruments.push_back(instrument(kMainA, kBootA));
  config.faults.empty_searches = 1;
  connect(std::move(config));
  os.answer({"3", "0", "0"});
  int selection = -1;
  ASSERT_EQ(open(&selection), 0);
  EXPECT_EQ(os.log(), nothing_then_one());
  EXPECT_EQ(selection, 0);
  EXPECT_STREQ(u.link.UsbStr, kMainA.c_str());
}

// A resource manager that could not be opened is opened again before the
// search: a passing fault costs nothing, and one that lasts shows as the
// empty list until "Search again" finds the VISA service back.
TEST_F(Session, FailedResourceManagerIsOpenedAgainBeforeEachSearch) {
  sim::SimConfig config;
  config.instruments.push_back(instrument(kMainA, kBootA));
  config.faults.fail_rm_open = {1, 2};
  connect(std::move(config));
  os.answer({"3", "0", "0"});
  int selection = -1;
  ASSERT_EQ(open(&selection), 0);
  EXPECT_EQ(os.log(), nothing_then_one());
  EXPECT_EQ(sim->call_counts().rm_opens, 3u);  // in open_machine, before the first search, after the answer
  usb_close(u);
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(Session, TwoInstrumentsAnswersOutOfRangeRepeatAndSearchAgainListsAgain) {
  connect_two();
  os.answer({"-1", "3", "2", "1"});
  int selection = -1;
  ASSERT_EQ(open(&selection), 0);
  const std::string list = "<11>USB:LIST\\n\n<13> 0:" + kMainA + "\\n 1:" + kMainB +
                           "\\n\n<9> 2:Search again\\n\n";
  EXPECT_EQ(os.log(), list +
                          "<11>please select:\ninput -1\n"
                          "<11>please select:\ninput 3\n"
                          "<11>please select:\ninput 2\n" +
                          list +
                          "<11>please select:\ninput 1\n"
                          "<13>select 1:" + kMainB + "\\n\n");
  EXPECT_EQ(selection, 1);
  EXPECT_STREQ(u.link.UsbStr, kMainB.c_str());
  // The session reaches the second instrument, with its I/O time-out set.
  ViUInt32 count = 0;
  u.visa->viWrite(u.link.vi, reinterpret_cast<const unsigned char*>("hello"), 5, &count);
  EXPECT_EQ(writes(1), std::vector<std::string>{"hello"});
  bool timeout_set = false;
  for (const sim::CallRecord& call : sim->transcript()) {
    if (call.function == "viOpen") {
      EXPECT_EQ(call.value, VI_NULL);
      EXPECT_EQ(call.value2, 1000u);
    }
    if (call.function == "viSetAttribute" && call.value == VI_ATTR_TMO_VALUE && call.value2 == 2000)
      timeout_set = true;
  }
  EXPECT_TRUE(timeout_set);
}

TEST_F(Session, LinesThatAreNoNumberAreDiscarded) {
  connect_one();
  os.answer({"abc", "", "0"});
  int selection = -1;
  ASSERT_EQ(open(&selection), 0);
  EXPECT_EQ(selection, 0);
  EXPECT_NE(os.log().find("<11>please select:\ninput abc\n<11>please select:\ninput \n"
                          "<11>please select:\ninput 0\n"),
            std::string::npos)
      << os.log();
}

// Whatever answers 1,000 times in a row without choosing (no number, or a
// number the list does not offer) is no operator: the run stops as when
// the input has ended. One answer that chooses, before that, is taken.
TEST_F(Session, AThousandAnswersThatChooseNothingEndTheDialogue) {
  const struct {
    const char* what;
    const char* answer;
    bool search_again;  // the search finds nothing: only 0 is an answer
  } cases[] = {
      {"no numbers", "x", false},
      {"out of range", "7", false},
      {"not search again", "5", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    if (c.search_again) config.faults.empty_searches = 1000000;
    connect(std::move(config));
    for (int i = 0; i < 1000; ++i) os.answer(c.answer);
    int selection = -1;
    EXPECT_EQ(open(&selection), 1);
    std::string log = os.log();
    size_t asked = 0;
    for (size_t at = log.find("please select:"); at != std::string::npos; at = log.find("please select:", at + 1)) {
      ++asked;
    }
    EXPECT_EQ(asked, 1000u);
    EXPECT_NE(log.find("<12>No instrument chosen: the operator's input has ended.\\n\n"
                       "stderr<14>tmflash: 1000 answers in a row chose no instrument\\n\n"),
              std::string::npos)
        << log.substr(log.size() - 300);
    EXPECT_EQ(sim->open_handles(), 0u);
    os.clear();
  }
  connect_one();
  for (int i = 0; i < 999; ++i) os.answer("x");
  os.answer("0");
  int selection = -1;
  EXPECT_EQ(open(&selection), 0);
  EXPECT_EQ(selection, 0);
}

TEST_F(Session, RememberedPositionIsReusedWithoutAsking) {
  connect_two();
  int selection = 1;
  ASSERT_EQ(open(&selection), 0);
  EXPECT_EQ(os.log(), "<13>select 1:" + kMainB + "\\n\n");
  EXPECT_EQ(selection, 1);
}

TEST_F(Session, RememberedPositionBeyondAShrunkListAsksAgain) {
  connect_one();
  os.answer({"0"});
  int selection = 1;
  ASSERT_EQ(open(&selection), 0);
  EXPECT_EQ(os.log(),
            "<11>USB:LIST\\n\n<13> 0:" + kMainA + "\\n\n<9> 1:Search again\\n\n"
            "<11>please select:\ninput 0\n<13>select 0:" + kMainA + "\\n\n");
}

TEST_F(Session, InputThatEndsStopsWithTheSessionsClosed) {
  connect_one();
  int selection = -1;
  EXPECT_EQ(open(&selection), 1);
  EXPECT_EQ(os.log(),
            "<11>USB:LIST\\n\n<13> 0:" + kMainA + "\\n\n<9> 1:Search again\\n\n"
            "<11>please select:\ninput end\n"
            "<12>No instrument chosen: the operator's input has ended.\\n\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(Session, OpenFailureIsMessageSevenWithBothSessionsClosed) {
  sim::SimConfig config;
  config.instruments.push_back(instrument(kMainA, kBootA));
  config.faults.fail_open = {1};
  connect(std::move(config));
  int selection = 0;
  EXPECT_EQ(open(&selection), 1);
  EXPECT_EQ(os.log(), "<13>select 0:" + kMainA + "\\n\n<12>Device is failed connected. (7)\\n\npause\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(Session, ResourceStringTooLongForUsbStrIsRefused) {
  std::string long_rsrc = "USB0::0x1234::0x5678::" + std::string(190, 'S') + "::INSTR";
  sim::SimConfig config;
  config.instruments.push_back(instrument(long_rsrc, ""));
  connect(std::move(config));
  int selection = 0;
  EXPECT_EQ(open(&selection), 1);
  EXPECT_EQ(os.log(), "<13>select 0:" + long_rsrc + "\\n\n<12>Resource string too long (more than 199 characters): " +
                          long_rsrc + "\\n\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(Session, ReconnectWarnsAboutANewResourceStringAndKeepsIt) {
  connect_one();
  int selection = 0;
  ASSERT_EQ(open(&selection), 0);
  jump_now();
  os.clear();
  ASSERT_EQ(reconnect(u, &selection), 0);
  EXPECT_EQ(os.log(),
            "sleep 3000\n"
            "<13>select 0:" + kBootA + "\\n\n"
            "<12>different from \\n" + kBootA + "\\n" + kMainA + "\\n\n"
            "<11>please ENTER continue\\n\n"
            "pause\n"
            "<->Bootloader VisaRsrc=" + kBootA + "\\n\n");
  EXPECT_STREQ(u.link.UsbStr, kBootA.c_str());
  EXPECT_EQ(sim->state(0), sim::InstrumentState::kBootloader);
  // The new session reaches the bootloader.
  ViUInt32 count = 0;
  EXPECT_EQ(u.visa->viWrite(u.link.vi, reinterpret_cast<const unsigned char*>("*IDN?\n"), 6, &count),
            VI_SUCCESS);
}

TEST_F(Session, ReconnectToTheSameStringWarnsNothing) {
  connect(sim::SimConfig{{instrument(kMainA, "")}, {}, ""});
  int selection = 0;
  ASSERT_EQ(open(&selection), 0);
  jump_now();
  os.clear();
  u.link.jump_dealy = 2000;
  ASSERT_EQ(reconnect(u, &selection), 0);
  EXPECT_EQ(os.log(), "sleep 2000\n<13>select 0:" + kMainA + "\\n\n<->Bootloader VisaRsrc=" + kMainA + "\\n\n");
}

TEST_F(Session, InstrumentNotBackWhenTheWaitEndsIsChosenFromTheFullList) {
  sim::InstrumentConfig slow = instrument(kMainA, kBootA);
  slow.reboot_ms = 5000;
  connect(sim::SimConfig{{slow}, {}, ""});
  int selection = 0;
  ASSERT_EQ(open(&selection), 0);
  jump_now();
  os.clear();
  os.answer_ms = 2500;  // the operator reads the list while the reboot ends
  os.answer({"0", "0"});
  ASSERT_EQ(reconnect(u, &selection), 0);
  EXPECT_EQ(os.log(),
            "sleep 3000\n"
            "<11>USB:LIST\\n\n<9> 0:Search again\\n\n<11>please select:\ninput 0\n"
            "<11>USB:LIST\\n\n<13> 0:" + kBootA + "\\n\n<9> 1:Search again\\n\n<11>please select:\ninput 0\n"
            "<13>select 0:" + kBootA + "\\n\n"
            "<12>different from \\n" + kBootA + "\\n" + kMainA + "\\n\n"
            "<11>please ENTER continue\\n\n"
            "pause\n"
            "<->Bootloader VisaRsrc=" + kBootA + "\\n\n");
}

TEST_F(Session, ReconnectOpenFailureLeavesTheResourceManagerToTheCaller) {
  sim::SimConfig config;
  config.instruments.push_back(instrument(kMainA, kBootA));
  config.faults.fail_open = {2};
  connect(std::move(config));
  int selection = 0;
  ASSERT_EQ(open(&selection), 0);
  jump_now();
  os.clear();
  EXPECT_EQ(reconnect(u, &selection), 1);
  EXPECT_NE(os.log().find("<->Bootloader VisaRsrc=" + kBootA + "\\n\n<12>Device is failed connected. (7)\\n\npause\n"),
            std::string::npos)
      << os.log();
  EXPECT_EQ(sim->open_handles(), 1u);  // the resource manager, for usb_close
  usb_close(u);
  EXPECT_EQ(sim->open_handles(), 0u);
}

}  // namespace
