// Whole runs of the entry point over list files, with the recording platform.
#include "driver/runner.h"

#include <gtest/gtest.h>

#include <string>

#include "support/run_fixture.h"
#include "visa/visa_backend.h"

namespace {

using Runner = RunFixture;

TEST_F(Runner, NoArgumentIsParametersError) {
  const char* argv[] = {"tmflash"};
  EXPECT_EQ(updater_main(u, 1, argv), 1);
  EXPECT_EQ(os.log(), "<12>parameters error\\n\npause\n");
}

TEST_F(Runner, MissingListFilePausesAndFails) {
  std::string absent = dir.file("absent.lst");
  const char* argv[] = {"tmflash", absent.c_str()};
  EXPECT_EQ(updater_main(u, 2, argv), 1);
  EXPECT_EQ(os.log(), "<12>Update file is not complete. (1)\\n\nstderr<14>tmflash: " + absent +
                          ": cannot open the list file: No such file or directory\\n\npause\n");
}

TEST_F(Runner, ListErrorsPauseAndFail) {
  EXPECT_EQ(run_list("total=21\n"), 1);
  EXPECT_EQ(os.log(), "<12>Update file is not complete. (3)\\n\nstderr<14>tmflash: " + dir.file("update.lst") +
                          ":1: total=21 is over 20\\n\npause\n");
}

TEST_F(Runner, JobKeyOutsideTheSlotsStopsBeforeAnyJob) {
  EXPECT_EQ(run_list("total=2\nscmd0=echo one\nscmd2=echo two\n"), 1);
  EXPECT_EQ(os.log(), "<12>Update file is not complete. (4)\\n\nstderr<14>tmflash: " + dir.file("update.lst") +
                          ":3: job key \"scmd2\" names slot 2; total=2 gives slots 0 .. 1\\n\npause\n");
}

// The exit status and standard output stay as for any complete run; the
// warning goes to standard error.
TEST_F(Runner, EmptyListIsUpdateOkAfterAWarning) {
  EXPECT_EQ(run_list(""), 0);
  EXPECT_EQ(os.log(), "stderr<14>tmflash: " + dir.file("update.lst") +
                          ": warning: the list file names no job; nothing is run\\n\n<->\\nUpdate Ok\\n\n");
}

TEST_F(Runner, DebugModePausesAfterUpdateOk) {
  EXPECT_EQ(run_list("total=1\ndebug_mode=1\nscmd0=a\n"), 0);
  EXPECT_EQ(os.log(), "<10>system cmd:a\\n\nshell a\n<->\\nUpdate Ok\\n\npause\n");
}

TEST_F(Runner, SlotsBeyondALaterSmallerTotalAreNoJobs) {
  EXPECT_EQ(run_list("total=3\nscmd2=never\ntotal=1\n"), 0);
  EXPECT_EQ(os.log(), "stderr<14>tmflash: " + dir.file("update.lst") +
                          ": warning: the list file names no job; nothing is run\\n\n<->\\nUpdate Ok\\n\n");
}

// A VISA named on the command line is loaded before the first job, so that
// one that cannot be loaded stops the run before any job has run; the
// default one loads when the first job needs it, so that shell jobs run on
// a station without VISA.
TEST_F(Runner, VisaIsLoadedBeforeAnyJobOnlyWhenItWasNamed) {
  UnavailableVisa unavailable("VISA library /x/libvisa.so does not exist");
  u.backend = &unavailable;
  const std::string list = "total=3\nscmd0=echo first\nmcmd1=*RST\nscmd2=echo never\n";
  EXPECT_EQ(run_list(list), 1);
  EXPECT_EQ(os.log(),
            "<10>system cmd:echo first\\n\nshell echo first\n<10>machine cmd:*RST\\n\n"
            "<12>VISA is not available: VISA library /x/libvisa.so does not exist\\n\npause\n");

  os.clear();
  u.visa_chosen = true;
  EXPECT_EQ(run_list(list), 1);
  EXPECT_EQ(os.log(), "<12>VISA is not available: VISA library /x/libvisa.so does not exist\\n\npause\n");

  // A list of shell jobs needs no VISA, named or not.
  os.clear();
  EXPECT_EQ(run_list("total=1\nscmd0=echo only\n"), 0);
  EXPECT_EQ(os.log(), "<10>system cmd:echo only\\n\nshell echo only\n<->\\nUpdate Ok\\n\n");
}

TEST_F(Runner, ShellJobsRunInSlotOrderWithTheDelayBetween) {
  EXPECT_EQ(run_list("total=4\n"
                     "delay=250\n"
                     "scmd2=echo third\n"
                     "scmd0=echo first\n"
                     "scmd1=DELAY 500\n"),
            0);
  EXPECT_EQ(os.log(),
            "<10>system cmd:echo first\\n\n"
            "shell echo first\n"
            "sleep 250\n"
            "<10>system cmd:DELAY 500\\n\n"
            "sleep 500\n"
            "sleep 250\n"
            "<10>system cmd:echo third\\n\n"
            "shell echo third\n"
            "sleep 250\n"  // slot 3 is empty: no delay after it
            "<->\\nUpdate Ok\\n\n");
}

TEST_F(Runner, ListPauseWinsOverTheDelay) {
  EXPECT_EQ(run_list("total=2\nlist_pause=1\ndelay=2000\nscmd0=a\nscmd1=b\n"), 0);
  EXPECT_EQ(os.log(),
            "<10>system cmd:a\\n\nshell a\npause\n"
            "<10>system cmd:b\\n\nshell b\npause\n"
            "<->\\nUpdate Ok\\n\n");
}

TEST_F(Runner, NegativeDelayWaitsNothing) {
  EXPECT_EQ(run_list("total=1\ndelay=-5\nscmd0=a\n"), 0);
  EXPECT_EQ(os.log(), "<10>system cmd:a\\n\nshell a\n<->\\nUpdate Ok\\n\n");
}

TEST_F(Runner, FailingShellCommandStillCountsAsDone) {
  os.on_shell = [](const std::string&) { return 127; };
  EXPECT_EQ(run_list("total=2\nscmd0=no-such-command\nscmd1=b\n"), 0);
  EXPECT_EQ(os.log(),
            "<10>system cmd:no-such-command\\n\nshell no-such-command\n"
            "<10>system cmd:b\\n\nshell b\n"
            "<->\\nUpdate Ok\\n\n");
}

}  // namespace
