// Whole runs of machine-command jobs through the entry point.
#include <gtest/gtest.h>

#include <string>

#include "support/sim_run.h"

namespace {

using MachineJob = SimRun;

const std::string kDialogueA =
    "<11>USB:LIST\\n\n<13> 0:" + kMainA + "\\n\n<9> 1:Search again\\n\n"
    "<11>please select:\ninput 0\n<13>select 0:" + kMainA + "\\n\n";

TEST_F(MachineJob, WritesTheTextUnchangedAndClosesBothSessions) {
  connect_one();
  os.answer({"0"});
  EXPECT_EQ(run_list("total=1\nmcmd0=:SYST:BEEP ON\n"), 0);
  EXPECT_EQ(os.log(), "<10>machine cmd::SYST:BEEP ON\\n\n" + kDialogueA + "<->\\nUpdate Ok\\n\n");
  EXPECT_EQ(writes(), std::vector<std::string>{":SYST:BEEP ON"});
  for (const sim::CallRecord& call : sim->transcript()) EXPECT_NE(call.function, "viRead");
  EXPECT_EQ(sim->machine_commands(0), std::vector<std::string>{":SYST:BEEP ON"});
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(MachineJob, TwoJobsAskOnlyOnceAndDelayBetween) {
  connect_one();
  os.answer({"0"});
  EXPECT_EQ(run_list("total=2\ndelay=300\nmcmd0=*RST\nmcmd1=*CLS\n"), 0);
  EXPECT_EQ(os.log(), "<10>machine cmd:*RST\\n\n" + kDialogueA +
                          "sleep 300\n"
                          "<10>machine cmd:*CLS\\n\n<13>select 0:" + kMainA + "\\n\n"
                          "sleep 300\n"
                          "<->\\nUpdate Ok\\n\n");
  EXPECT_EQ(writes(), (std::vector<std::string>{"*RST", "*CLS"}));
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(MachineJob, OpenFailureStopsTheRun) {
  sim::SimConfig config{{instrument(kMainA, kBootA)}, {}, ""};
  config.faults.fail_open = {1};
  connect(config);
  os.answer({"0"});
  EXPECT_EQ(run_list("total=2\nmcmd0=*RST\nscmd1=echo never\n"), 1);
  EXPECT_EQ(os.log(), "<10>machine cmd:*RST\\n\n" + kDialogueA +
                          "<12>Device is failed connected. (7)\\n\npause\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(MachineJob, WriteFailureIsFiveAndAPause) {
  sim::SimConfig config{{instrument(kMainA, kBootA)}, {}, ""};
  config.faults.fail_write = {1};
  connect(config);
  os.answer({"0"});
  EXPECT_EQ(run_list("total=1\nmcmd0=*RST\n"), 1);
  EXPECT_EQ(os.log(), "<10>machine cmd:*RST\\n\n" + kDialogueA +
                          "<12>Device is failed connected. (5)\\n\npause\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(MachineJob, OperatorInputThatEndsStopsTheRun) {
  connect_one();
  EXPECT_EQ(run_list("total=1\nmcmd0=*RST\n"), 1);
  EXPECT_EQ(os.log(),
            "<10>machine cmd:*RST\\n\n<11>USB:LIST\\n\n<13> 0:" + kMainA +
                "\\n\n<9> 1:Search again\\n\n<11>please select:\ninput end\n"
                "<12>No instrument chosen: the operator's input has ended.\\n\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

}  // namespace
