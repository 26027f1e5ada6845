// A simulator that keeps nothing in memory, and one without a flash model,
// for long streams: the instrument answers alike, a transcript file named in
// the configuration is still written, and only the flash differs.
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
  config.transcript_path = log_path;
  connect(std::move(config), false);  // what a configuration keeps by default
  PackagePlan p = plan({0});
  p.sections[0] = suited(binary_section({0, 0xFFF, 0x80, 0x1000}, pattern(0x300)));
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(flash(0, 0x300), pattern(0x300));
  EXPECT_TRUE(sim->transcript().empty());
  EXPECT_TRUE(writes().empty());
  EXPECT_TRUE(sim->control_requests(0).empty());
  const sim::Bootloader& boot = sim->bootloader(0);
  EXPECT_TRUE(boot.commands().empty());
  // r b v l e w, 6 data commands, x: counted all the same.
  EXPECT_EQ(boot.command_count('r'), 1u);
  EXPECT_EQ(boot.command_count('e'), 1u);
  EXPECT_EQ(boot.command_count('d'), 6u);
  EXPECT_EQ(boot.command_count('x'), 1u);
  EXPECT_TRUE(boot.image_complete());

  std::ifstream file(log_path);
  std::stringstream lines;
  lines << file.rdbuf();
  EXPECT_NE(lines.str().find("viWrite vi="), std::string::npos);
  EXPECT_NE(lines.str().find("\"\\\"&x$\\\"\" -> VI_SUCCESS count=5"), std::string::npos) << lines.str();
}

// Without the flash model the updater sees the same answers, and the flash
// reads as never written: nothing of the image is kept, and data written over
// flash that was never erased is no flash error.
TEST_F(QuietSimulator, WithoutTheFlashModelTheFlashKeepsNothing) {
  sim::SimConfig config;
  config.instruments.push_back(instrument(kMainA, kBootA));
  config.instruments.back().flash_model = false;
  config.instruments.back().flash_fill = 0x5A;
  connect(std::move(config));
  PackagePlan p = plan({0});
  // Erase step 0x2000 over a 4 KiB erase block: half the image is never erased.
  p.sections[0] = suited(binary_section({0, 0x1FFF, 0x80, 0x2000}, pattern(0x2000)));
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  const sim::Bootloader& boot = sim->bootloader(0);
  EXPECT_EQ(boot.command_count('d'), 0x40u);
  EXPECT_TRUE(boot.errors().empty());
  EXPECT_TRUE(boot.image_complete());
  EXPECT_EQ(flash(0, 0x10), std::vector<uint8_t>(0x10, 0x5A));
  EXPECT_EQ(boot.commands().size(), 0x40u + 7);  // r b v l e w, the data commands, x
  for (const sim::BootCommand& c : boot.commands()) {
    if (c.letter != 'r') {
      EXPECT_EQ(c.reply, std::string(1, c.letter) + "\n");
    }
  }

  // The same package against the flash model finds the bytes never erased.
  sim::SimConfig modelled;
  modelled.instruments.push_back(instrument(kMainA, kBootA));
  connect(std::move(modelled));
  os.clear();
  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(sim->bootloader(0).error_count(sim::SimError::kFlash), 0x20u);  // one per data command past 0x1000
}

}  // namespace
