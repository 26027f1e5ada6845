// Which VISA implementation a run uses when --visa is not given, and what it
// says about it: the installed library first, then the built-in driver.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "config.h"
#include "support/recording_platform.h"
#include "support/temp_dir.h"
#include "visa/sim/simulator.h"
#include "visa/usb/inprocess_usb.h"
#include "visa/usb/usbtmc_choice.h"

namespace usbtmc {
namespace {

struct BackendChoice : ::testing::Test {
  // A built-in driver over the in-process device.
  std::unique_ptr<VisaBackend> builtin() {
    simulator = std::make_unique<sim::Simulator>(sim::default_sim_config(), clock);
    return make_usbtmc_backend(std::make_unique<InProcessUsb>(*simulator, clock), clock, record);
  }

  RecordingPlatform clock;
  std::unique_ptr<sim::Simulator> simulator;
  std::vector<std::string> notes;
  NoteSink record = [this](const std::string& line) { notes.push_back(line); };
};

#ifdef TMFLASH_SIM_LIBRARY
TEST_F(BackendChoice, AnInstalledLibraryComesFirstAndIsNamedOnce) {
  auto backend = make_installed_then_builtin_backend(std::make_unique<VisaLibraryBackend>(TMFLASH_SIM_LIBRARY),
                                                     builtin(), record);
  std::string why;
  const VisaApi* api = backend->load(&why);
  ASSERT_NE(api, nullptr) << why;
  EXPECT_NE(api, usbtmc_visa_api());
  EXPECT_EQ(backend->load(&why), api);
  EXPECT_EQ(notes, std::vector<std::string>{std::string("VISA: the installed library ") + TMFLASH_SIM_LIBRARY});
}
#endif

TEST_F(BackendChoice, WithoutAnInstalledLibraryTheBuiltInDriverIsUsedAndSaidOnce) {
  auto backend = make_installed_then_builtin_backend(std::make_unique<VisaLibraryBackend>("/no/such/libvisa.so"),
                                                     builtin(), record);
  std::string why;
  const VisaApi* api = backend->load(&why);
  EXPECT_EQ(api, usbtmc_visa_api());
  EXPECT_EQ(backend->load(&why), api);
  EXPECT_EQ(notes,
            std::vector<std::string>{"VISA: the built-in USBTMC driver, as no installed VISA library could be loaded"});
  // And it is the driver that reaches the instrument.
  ViSession rm = 0;
  ASSERT_EQ(api->viOpenDefaultRM(&rm), VI_SUCCESS);
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN] = {};
  EXPECT_EQ(api->viFindRsrc(rm, "USB?*::INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, "USB0::0x1234::0x5678::SIM0001::INSTR");
}

TEST_F(BackendChoice, WhenNothingLoadsEveryReasonIsGivenAndNothingNoted) {
  auto backend = make_installed_then_builtin_backend(std::make_unique<VisaLibraryBackend>("/no/such/libvisa.so"),
                                                     nullptr, record);
  std::string why;
  EXPECT_EQ(backend->load(&why), nullptr);
  EXPECT_EQ(why, "VISA library /no/such/libvisa.so does not exist");
  EXPECT_TRUE(notes.empty());
}

TEST(ChoiceOption, UsbAndTheDefaultAreChoicesOfTheBuiltInDriver) {
  EXPECT_NE(make_usb_backend_for_option("usb"), nullptr);
  EXPECT_NE(make_usb_backend_for_option(""), nullptr);
  EXPECT_EQ(make_usb_backend_for_option("sim"), nullptr);
  EXPECT_EQ(make_usb_backend_for_option("/opt/lib/libvisa.so"), nullptr);
#if !HAVE_LIBUSB
  std::string why;
  EXPECT_EQ(make_usb_backend_for_option("usb")->load(&why), nullptr);
  EXPECT_NE(why.find("built without libusb-1.0"), std::string::npos) << why;
#endif
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The built program without --visa: standard output keeps only the console
// text; the choice is said once, on standard error.
TEST(ChoiceBinary, TheDefaultChoiceIsSaidOnStandardErrorOnly) {
  for (const std::string& name : default_visa_library_names()) {
    std::string ignored;
    if (void* handle = dynlib::open(name, &ignored)) {
      dynlib::close(handle);
      GTEST_SKIP() << "a VISA library is installed here: " << name;
    }
  }
#if !HAVE_LIBUSB
  GTEST_SKIP() << "built without libusb";
#endif
  TempDir dir;
  std::string list = dir.write("jobs.lst", "total=1\nmcmd0=*RST\n");
  std::string command = "'" + std::string(TMFLASH_BINARY) + "' '" + list + "' </dev/null >'" + dir.file("out") +
                        "' 2>'" + dir.file("err") + "'";
  int raw = std::system(command.c_str());
  EXPECT_NE(raw, 0);
  std::string out = read_file(dir.file("out"));
  std::string err = read_file(dir.file("err"));
  EXPECT_EQ(err, "tmflash: VISA: the built-in USBTMC driver, as no installed VISA library could be loaded\n");
  EXPECT_TRUE(out.starts_with("machine cmd:*RST\nUSB:LIST\n")) << out;
  EXPECT_EQ(out.find("tmflash:"), std::string::npos) << out;
}

}  // namespace
}  // namespace usbtmc
