// The whole demo list (make demo) through the built-in USBTMC driver and the
// in-process USB device: every job kind, the jump, the re-enumeration under
// the bootloader's product ID, the package's image and the script's data in
// the instrument's flash, and on the console exactly what the operator sees
// with the simulated instrument behind VISA directly.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "driver/runner.h"
#include "package/package_description.h"
#include "support/recording_platform.h"
#include "driver/updater.h"
#include "visa/sim/sim_backend.h"
#include "visa/sim/sim_file.h"
#include "visa/usb/inprocess_usb.h"
#include "visa/usb/usbtmc_visa.h"

namespace usbtmc {
namespace {

const std::string kDemoDir = std::string(TMFLASH_BUILD_DIR) + "/demo";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The list names its script and package relative to its folder.
class InDemoDir {
 public:
  InDemoDir() {
    char here[4096];
    if (getcwd(here, sizeof here)) before_ = here;
    EXPECT_EQ(chdir(kDemoDir.c_str()), 0) << kDemoDir;
  }
  ~InDemoDir() {
    if (!before_.empty() && chdir(before_.c_str()) != 0) ADD_FAILURE() << "cannot go back to " << before_;
  }

 private:
  std::string before_;
};

sim::SimConfig demo_instrument() {
  sim::SimConfig config;
  std::string error;
  EXPECT_TRUE(sim::load_sim_description(kDemoDir + "/instrument.sim", &config, &error)) << error;
  config.transcript_path.clear();
  config.keep_commands = true;  // the fault test counts what reached the bootloader
  return config;
}

struct DemoRun {
  int status = -1;
  std::string console;
};

// Runs demo.lst with the operator choosing instrument 0.
DemoRun run_demo(RecordingPlatform& os, VisaBackend& backend) {
  InDemoDir here;
  Updater u(os, &backend);
  os.answer("0");
  const char* argv[] = {"tmflash", "demo.lst"};
  DemoRun run;
  run.status = updater_main(u, 2, argv);
  run.console = os.text();
  return run;
}

struct DemoCase {
  const char* name;
  UsbQuirks quirks;
};

class UsbDemo : public ::testing::TestWithParam<DemoCase> {};

TEST_P(UsbDemo, RunsEveryJobToUpdateOkAndFlashHoldsTheImage) {
  // The same run with the simulated instrument behind VISA directly: what the
  // operator must see.
  RecordingPlatform direct_os;
  sim::Simulator direct_sim(demo_instrument(), direct_os);
  auto direct_backend = sim::make_simulator_backend(direct_sim);
  DemoRun direct = run_demo(direct_os, *direct_backend);
  ASSERT_EQ(direct.status, 0) << direct.console;
  direct_backend.reset();

  RecordingPlatform os;
  sim::Simulator instrument(demo_instrument(), os);
  auto device = std::make_unique<InProcessUsb>(instrument, os, GetParam().quirks);
  InProcessUsb& usb = *device;
  std::vector<std::string> notes;
  auto backend = make_usbtmc_backend(std::move(device), os, [&](const std::string& line) { notes.push_back(line); });
  DemoRun run = run_demo(os, *backend);

  EXPECT_EQ(run.status, 0) << run.console;
  EXPECT_TRUE(run.console.ends_with("Update Ok\n")) << run.console;
  EXPECT_EQ(run.console, direct.console);
  EXPECT_TRUE(notes.empty());
  // Main firmware, then the bootloader under its own product ID.
  EXPECT_EQ(instrument.jumps(0), 1u);
  EXPECT_EQ(usb.enumerations(), 2);
  EXPECT_EQ(instrument.bootloader(0).errors().size(), 0u);
  EXPECT_TRUE(instrument.bootloader(0).image_complete());

  // The package's binary section: the image at its start address, erased
  // flash after it up to the end of its erase range.
  PackagePlan plan;
  std::string error;
  ASSERT_TRUE(parse_package_description(
      read_file(std::string(TMFLASH_SOURCE_DIR) + "/examples/demo/firmware.desc"),
      [](const std::string&, std::vector<uint8_t>*) { return false; }, &plan, &error))
      << error;
  ASSERT_TRUE(plan.sections[1].has_value());
  const SectionPlan& binary = *plan.sections[1];
  auto start = static_cast<uint32_t>(binary.bin.start_address);
  auto end = static_cast<uint32_t>(binary.bin.end_address);
  EXPECT_EQ(instrument.flash(0, start, binary.image.size()), binary.image);
  EXPECT_EQ(instrument.flash(0, start + binary.image.size(), end + 1 - start - binary.image.size()),
            std::vector<uint8_t>(end + 1 - start - binary.image.size(), 0xFF));
  // The framed section's data, and the script's.
  std::string fpga = "FPGA bitstream";
  fpga.push_back('\0');
  EXPECT_EQ(instrument.flash(0, 0x30000, fpga.size()), std::vector<uint8_t>(fpga.begin(), fpga.end()));
  std::string script = "Tmflash demo image - block 0";
  script.append(2, '\0');
  script += "\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF";
  EXPECT_EQ(instrument.flash(0, 0x10000, script.size()), std::vector<uint8_t>(script.begin(), script.end()));
}

UsbQuirks with_kernel_driver() {
  UsbQuirks q;
  q.kernel_driver = true;
  return q;
}
UsbQuirks full_speed_in_pieces() {
  UsbQuirks q;
  q.packet_size = 64;
  q.header_alone = true;
  q.split_data = 3;
  return q;
}

INSTANTIATE_TEST_SUITE_P(Device, UsbDemo,
                         ::testing::Values(DemoCase{"plain", {}}, DemoCase{"kernel_driver_bound", with_kernel_driver()},
                                           DemoCase{"full_speed_replies_in_pieces", full_speed_in_pieces()}),
                         [](const ::testing::TestParamInfo<DemoCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace usbtmc

namespace usbtmc {
namespace {

// A device that stops answering in the middle of the package's image: the
// run ends with the numbered messages and exit status 1, in bounded time.
TEST(UsbDemoFault, ADeviceThatStopsAnsweringMidSectionEndsTheRunWithExitOne) {
  RecordingPlatform os;
  sim::Simulator instrument(demo_instrument(), os);
  // The main firmware's replies, then a few of the bootloader's.
  auto device = std::make_unique<InProcessUsb>(instrument, os, UsbQuirks{}, FunctionFaults{11, 0});
  auto backend = make_usbtmc_backend(std::move(device), os, [](const std::string&) {});
  DemoRun run = run_demo(os, *backend);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.console.find("Update Ok"), std::string::npos);
  EXPECT_TRUE(run.console.ends_with("Device is failed connected. (6)\n"
                                    "Corrupted Update File. (10-5)\n"
                                    "Device is failed connected. (8)\n"))
      << run.console;
  // It stopped inside the image: some of it went out, not all.
  EXPECT_GT(instrument.bootloader(0).commands().size(), 3u);
  EXPECT_FALSE(instrument.bootloader(0).image_complete());
  // One read waited its time-out; the abort that followed had its own bound.
  EXPECT_LT(os.now_ms(), 60u * 1000u);
}

}  // namespace
}  // namespace usbtmc
