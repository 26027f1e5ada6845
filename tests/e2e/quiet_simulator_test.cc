// A simulator that keeps no transcript in memory, for long streams: the
// instrument behaves the same, nothing is kept, and a transcript file named
// in the configuration is still written.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "e2e/package_run.h"

namespace {

using QuietSimulator = PackageRun;

TEST_F(QuietSimulator, StreamsAlikeAndKeepsNothing) {
  std::string log_path = dir.file("calls.log");
  sim::SimConfig config;
  config.instruments.push_back(instrument(kMainA, kBootA));
  config.keep_transcript = false;
  config.transcript_path = log_path;
  connect(std::move(config));
  PackagePlan p = plan({0});
  p.sections[0] = suited(binary_section({0, 0xFFF, 0x80, 0x1000}, pattern(0x300)));
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(flash(0, 0x300), pattern(0x300));
  EXPECT_TRUE(sim->transcript().empty());
  EXPECT_TRUE(writes().empty());
  EXPECT_TRUE(sim->control_requests(0).empty());
  EXPECT_EQ(sim->bootloader(0).commands().size(), 13u);  // r b v l e w, 6 data commands, x

  std::ifstream file(log_path);
  std::stringstream lines;
  lines << file.rdbuf();
  EXPECT_NE(lines.str().find("viWrite vi="), std::string::npos);
  EXPECT_NE(lines.str().find("\"\\\"&x$\\\"\" -> VI_SUCCESS count=5"), std::string::npos) << lines.str();
}

}  // namespace
