// Update files that are no regular files, and standard input that is no
// operator: each is refused or ends, and none of these tests can hang. A
// FIFO without a writer would block an ordinary open for ever; /dev/zero
// as a file or as standard input would be read for ever.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/run_binary.h"
#include "support/sim_run.h"

namespace {

const std::string kDefaultSim = std::string(TMFLASH_SOURCE_DIR) + "/examples/sim/default.sim";
const std::string kPressAnyKey = "Press any key to continue . . . \n";

class FileKinds : public SimRun {
 protected:
  FileKinds() {
    fifo = dir.file("pipe");
    EXPECT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  }
  std::string fifo;
};

TEST_F(FileKinds, ScriptOrPackageThatIsNoRegularFileIsRefusedWithItsKind) {
  const struct {
    std::string path;
    const char* kind;
  } files[] = {
      {fifo, "a FIFO"},
      {"/dev/zero", "a character device"},
      {dir.path(), "a folder"},
  };
  for (const auto& f : files) {
    for (const char* key : {"path0", "pt0"}) {
      SCOPED_TRACE(f.path + " as " + key);
      connect_one();
      os.clear();
      EXPECT_EQ(run_list("total=1\n" + std::string(key) + "=" + f.path + "\n"), 1);
      EXPECT_EQ(os.log(), "<12>Corrupted Update File. (5)\\n\nstderr<14>tmflash: " + f.path + ": cannot open: " +
                              f.kind + ", not a regular file\\n\npause\n");
      EXPECT_TRUE(sim->transcript().empty());
    }
  }
}

TEST_F(FileKinds, ListFileThatIsNoRegularFileIsRefusedWithItsKind) {
  for (const std::string& path : {fifo, std::string("/dev/zero")}) {
    SCOPED_TRACE(path);
    BinaryRun run = run_tmflash({path});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.output, "Update file is not complete. (1)\n" + kPressAnyKey);
    std::string kind = path == fifo ? "a FIFO" : "a character device";
    EXPECT_EQ(run.errors, "tmflash: " + path + ": cannot open the list file: " + kind + ", not a regular file\n");
  }
}

TEST_F(FileKinds, CheckReportsAFileThatIsNoRegularFile) {
  std::string list = dir.write("update.lst", "total=2\npath0=" + fifo + "\npt1=/dev/zero\n");
  BinaryRun run = run_tmflash({"--check", list});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find(fifo + ": fault [Corrupted Update File. (5)]: cannot open: a FIFO, not a regular file\n"),
            std::string::npos)
      << run.output;
  EXPECT_NE(run.output.find("/dev/zero: fault [Corrupted Update File. (5)]: cannot open: a character device, not a "
                            "regular file\n"),
            std::string::npos)
      << run.output;
}

// /dev/zero as standard input: one endless line of NUL bytes, read in
// bounded stretches, each no number; after 1,000 of them the run stops as
// when the input has ended.
TEST_F(FileKinds, DevZeroAsStandardInputEndsTheRun) {
  dir.write("fw.txt", "&x$\n");
  dir.write("update.lst", "total=1\npath0=fw.txt\n");
  BinaryRun run = run_tmflash_with_stdin_from({"--visa=sim:" + kDefaultSim, "update.lst"}, "/dev/zero",
                                              dir.path());
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.output.find("please select:No instrument chosen: the operator's input has ended.\n"),
            std::string::npos)
      << run.output.substr(0, 300);
  EXPECT_EQ(run.output.find("select 0:"), std::string::npos);
  EXPECT_NE(run.errors.find("tmflash: 1000 answers in a row chose no instrument\n"), std::string::npos) << run.errors;
}

// An answer with a NUL byte is no answer, and the line after it is the next
// one: "0" NUL, then "1" must not be read as 0, nor lose the 1.
TEST_F(FileKinds, AnswerLineWithANulDoesNotSwallowTheNextAnswer) {
  dir.write("fw.txt", "&x$\n");
  dir.write("update.lst", "total=1\npath0=fw.txt\n");
  dir.write("two.sim",
                                   "[instrument]\nmain = USB0::0x1234::0x5678::SIM0001::INSTR\n"
                                   "[instrument]\nmain = USB0::0x1234::0x5678::SIM0002::INSTR\n");
  BinaryRun run = run_tmflash({"--visa=sim:two.sim", "update.lst"}, std::string("0\0\n1\n", 5), dir.path());
  EXPECT_NE(run.output.find("please select:please select:select 1:USB0::0x1234::0x5678::SIM0002::INSTR\n"),
            std::string::npos)
      << run.output;
}

}  // namespace
