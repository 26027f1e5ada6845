// The description file of --visa=sim:FILE, and the backends that build a
// simulator from it or from the defaults.
#include "visa/sim/sim_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/temp_dir.h"
#include "visa/sim/sim_api.h"
#include "visa/sim/sim_backend.h"

namespace {

using sim::InstrumentConfig;
using sim::SimConfig;

std::string list(const std::vector<uint32_t>& v) {
  std::string out;
  for (uint32_t n : v) out += std::to_string(n) + ",";
  return out;
}

// Every field, one per line, so that a difference shows by name.
std::string describe(const InstrumentConfig& c) {
  std::ostringstream o;
  o << "name=" << c.name << "\nmain=" << c.main_rsrc << "\nbootloader=" << c.bootloader_rsrc()
    << "\nmain_idn=" << c.main_idn << "|\nboot_idn=" << c.boot_idn << "|\nsyst_info=" << c.syst_info
    << "|\nboot_version=" << c.boot_version << "|\nmain_version=" << c.main_version
    << "|\nmain_control_in=" << c.main_control_in << "\nboot_control_in=" << c.boot_control_in
    << "\njump=" << c.jump_command << "|\ncontrol_jump=" << c.control_jump << "\nreboot_ms=" << c.reboot_ms
    << "\nstart=" << (c.start == sim::StartState::kMain ? "main" : "bootloader") << "\necho_suffix=" << c.echo_suffix
    << "|\nerase_block=" << c.erase_block << "\nflash_fill=" << int{c.flash_fill} << "\nflash_model=" << c.flash_model
    << "\nwrong_echo_first=" << c.faults.wrong_echo_first << "\nwrong_echo_at=" << list(c.faults.wrong_echo_at)
    << "\nnever_back=" << c.faults.never_back << "\nlate_ms=" << c.faults.late_ms << "\n";
  return o.str();
}

SimConfig parse_ok(const std::string& text) {
  SimConfig c;
  std::string error;
  EXPECT_TRUE(sim::parse_sim_description(text, "test.sim", &c, &error)) << error;
  return c;
}

TEST(SimFile, EveryKeyIsRead) {
  SimConfig c = parse_ok(
      "# global keys first\n"
      "transcript = /tmp/x.log\n"
      "empty_searches = 3\n"
      "fail_open = 1\n"
      "fail_write = 2, 5 ,9\n"
      "fail_read = 0x10\n"
      "timeout_read = 4,7\n"
      "fail_rm_open = 3\n"
      "fail_search = 1, 2\n"
      "fail_control_in = 5\n"
      "fail_control_out = 6\n"
      "fail_from = 0x20\n"
      "keep_transcript = yes\n"
      "keep_commands = true\n"
      "\n"
      "[instrument one]\r\n"
      "  main = USB0::0x1::0x2::A::INSTR  \n"
      "bootloader=USB0::0x1::0x3::A::INSTR\n"
      "main_idn = Maker,Model,A,1.0\\n\n"
      "boot_idn = boot A\\r\\n\n"
      "syst_info = 0#main#2.10#HW3,-1#DEV#\n"
      "boot_version = 3.01#1#HW9\n"
      "main_version = 1.0\\n\n"
      "main_control_in = mf\n"
      "boot_control_in = bt_x\n"
      "jump = *BOOT\\t1\n"
      "control_jump = no\n"
      "reboot_ms = 2500\n"
      "start = bootloader\n"
      "echo_suffix = \\x20ok\\\\\n"
      "erase_block = 0x10000\n"
      "flash_fill = 0xA5\n"
      "flash_model = no\n"
      "wrong_echo_first = 2\n"
      "wrong_echo_at = 3, 8\n"
      "never_back = yes\n"
      "late_ms = 700\n");
  EXPECT_EQ(c.transcript_path, "/tmp/x.log");
  EXPECT_EQ(c.faults.empty_searches, 3u);
  EXPECT_EQ(c.faults.fail_open, std::vector<uint32_t>{1});
  EXPECT_EQ(c.faults.fail_write, (std::vector<uint32_t>{2, 5, 9}));
  EXPECT_EQ(c.faults.fail_read, std::vector<uint32_t>{16});
  EXPECT_EQ(c.faults.timeout_read, (std::vector<uint32_t>{4, 7}));
  EXPECT_EQ(c.faults.fail_rm_open, std::vector<uint32_t>{3});
  EXPECT_EQ(c.faults.fail_search, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(c.faults.fail_control_in, std::vector<uint32_t>{5});
  EXPECT_EQ(c.faults.fail_control_out, std::vector<uint32_t>{6});
  EXPECT_EQ(c.faults.fail_from, 32u);
  EXPECT_TRUE(c.keep_transcript);
  EXPECT_TRUE(c.keep_commands);
  ASSERT_EQ(c.instruments.size(), 1u);
  EXPECT_EQ(describe(c.instruments[0]),
            "name=one\nmain=USB0::0x1::0x2::A::INSTR\nbootloader=USB0::0x1::0x3::A::INSTR\n"
            "main_idn=Maker,Model,A,1.0\n|\nboot_idn=boot A\r\n|\nsyst_info=0#main#2.10#HW3,-1#DEV#|\n"
            "boot_version=3.01#1#HW9|\nmain_version=1.0\n|\nmain_control_in=mf\nboot_control_in=bt_x\n"
            "jump=*BOOT\t1|\ncontrol_jump=0\nreboot_ms=2500\nstart=bootloader\necho_suffix= ok\\|\n"
            "erase_block=65536\nflash_fill=165\nflash_model=0\nwrong_echo_first=2\nwrong_echo_at=3,8,\n"
            "never_back=1\nlate_ms=700\n");
}

TEST(SimFile, BlocksGetDefaultsAndNames) {
  SimConfig c = parse_ok(
      "[instrument]\nmain = USB0::0x1::0x2::A::INSTR\n"
      "[instrument]\nmain = USB0::0x1::0x2::B::INSTR\njump =\n");
  ASSERT_EQ(c.instruments.size(), 2u);
  EXPECT_EQ(c.instruments[0].name, "sim0");
  EXPECT_EQ(c.instruments[1].name, "sim1");
  EXPECT_EQ(c.instruments[0].bootloader_rsrc(), "USB0::0x1::0x2::A::INSTR");  // same as main
  EXPECT_EQ(c.instruments[0].boot_version, "2.05#0#HW3");
  EXPECT_EQ(c.instruments[0].jump_command, "SYST:BOOT");
  EXPECT_EQ(c.instruments[1].jump_command, "");
  EXPECT_TRUE(c.transcript_path.empty());
  EXPECT_FALSE(c.keep_transcript);  // nothing is kept in memory unless asked for
  EXPECT_FALSE(c.keep_commands);
  EXPECT_TRUE(c.instruments[0].flash_model);
}

// A Windows path keeps its backslashes: "\t" in C:\temp is no tab.
TEST(SimFile, FilePathsAreTakenAsWritten) {
  SimConfig c = parse_ok("transcript = C:\\temp\\x41\\calls.log\nflash_file = C:\\temp\\flash.txt\n");
  EXPECT_EQ(c.transcript_path, "C:\\temp\\x41\\calls.log");
  EXPECT_EQ(c.flash_path, "C:\\temp\\flash.txt");
}

TEST(SimFile, FileWithoutBlocksHasNoInstrument) {
  EXPECT_TRUE(parse_ok("# nothing connected\n").instruments.empty());
  EXPECT_TRUE(parse_ok("").instruments.empty());
}

struct ErrorCase {
  const char* text;
  const char* error;
};

TEST(SimFile, ErrorsNameTheLineAndTheReason) {
  const ErrorCase cases[] = {
      {"color = red\n", "test.sim:1: unknown key \"color\" before the first [instrument]"},
      {"[instrument a]\nmain = X\nmodel = 5\n", "test.sim:3: unknown key \"model\""},
      {"[instrument a]\nmain X\n", "test.sim:2: a line is \"key = value\", a [block] or a # comment"},
      {"[instrument a]\n = X\n", "test.sim:2: a key is missing before \"=\""},
      {"[instrument a]\nmain = X\nmain = Y\n", "test.sim:3: key \"main\" given twice"},
      {"[device a]\n", "test.sim:1: unknown block \"[device a]\""},
      {"[instrumental]\n", "test.sim:1: unknown block \"[instrumental]\""},
      {"[instrument a\n", "test.sim:1: a block header ends with \"]\""},
      {"\n[instrument a]\nreboot_ms = 5\n", "test.sim:2: instrument \"a\" has no main resource string"},
      {"[instrument a]\nreboot_ms = 5\n[instrument b]\nmain = Y\n",
       "test.sim:1: instrument \"a\" has no main resource string"},
      {"[instrument a]\nmain = X\n[instrument a]\nmain = Y\n", "test.sim:3: instrument name \"a\" used twice"},
      {"[instrument a]\nmain = X\n[instrument b]\nmain = X\n",
       "test.sim:3: instrument \"b\" has the main resource string of \"a\""},
      {"[instrument a]\nmain = X\nreboot_ms = 15s\n", "test.sim:3: \"15s\" is not a number"},
      {"[instrument a]\nmain = X\nreboot_ms =\n", "test.sim:3: \"\" is not a number"},
      {"[instrument a]\nmain = X\nreboot_ms = 0x\n", "test.sim:3: \"0x\" is not a number"},
      {"[instrument a]\nmain = X\nlate_ms = 4294967296\n", "test.sim:3: number \"4294967296\" is too large"},
      {"fail_read = 1,,2\n", "test.sim:1: \"\" is not a number"},
      {"fail_read = 0\n", "test.sim:1: call and echo numbers count from 1"},
      {"[instrument a]\nmain = X\nnever_back = maybe\n", "test.sim:3: \"maybe\" is not yes or no"},
      {"[instrument a]\nmain = X\nstart = boot\n", "test.sim:3: start is main or bootloader, not \"boot\""},
      {"[instrument a]\nmain = X\nerase_block = 0\n", "test.sim:3: erase_block must be 1 .. 0x1000000"},
      {"[instrument a]\nmain = X\nerase_block = 0x1000001\n", "test.sim:3: erase_block must be 1 .. 0x1000000"},
      {"[instrument a]\nmain = X\nflash_fill = 256\n", "test.sim:3: flash_fill must be 0 .. 255"},
      {"[instrument a]\nmain = X\nmain_idn = a\\qb\n", "test.sim:3: unknown escape \\q"},
      {"[instrument a]\nmain = X\nmain_idn = a\\x4\n", "test.sim:3: \\x needs two hex digits"},
      {"[instrument a]\nmain = X\nmain_idn = a\\\n", "test.sim:3: a \\ ends the value"},
  };
  for (const ErrorCase& c : cases) {
    SimConfig config;
    std::string error;
    EXPECT_FALSE(sim::parse_sim_description(c.text, "test.sim", &config, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

std::string example(const char* name) { return std::string(TMFLASH_SOURCE_DIR) + "/examples/sim/" + name; }

TEST(SimFile, DefaultExampleIsTheInstrumentOfVisaSim) {
  SimConfig from_file;
  std::string error;
  ASSERT_TRUE(sim::load_sim_description(example("default.sim"), &from_file, &error)) << error;
  SimConfig builtin = sim::default_sim_config();
  ASSERT_EQ(from_file.instruments.size(), 1u);
  EXPECT_EQ(describe(from_file.instruments[0]), describe(builtin.instruments[0]));
  EXPECT_NE(builtin.instruments[0].bootloader_rsrc(), builtin.instruments[0].main_rsrc);
  EXPECT_EQ(builtin.instruments[0].reboot_ms, 1500u);
}

TEST(SimFile, EveryExampleLoads) {
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(TMFLASH_SOURCE_DIR) + "/examples/sim")) {
    if (entry.path().extension() != ".sim") continue;
    SimConfig c;
    std::string error;
    EXPECT_TRUE(sim::load_sim_description(entry.path().string(), &c, &error)) << error;
    EXPECT_FALSE(c.instruments.empty()) << entry.path();
    ++seen;
  }
  EXPECT_GE(seen, 2);
}

TEST(SimFile, MissingFileIsReportedWithItsName) {
  SimConfig c;
  std::string error;
  EXPECT_FALSE(sim::load_sim_description("/nonexistent/x.sim", &c, &error));
  EXPECT_EQ(error, "/nonexistent/x.sim: cannot open the simulator description: No such file or directory");
}

// --- Backends ----------------------------------------------------------------

TEST(SimBackend, BadFileFailsLoadWithOneLine) {
  TempDir dir;
  std::string path = dir.write("bad.sim", "[instrument a]\nmain = X\nreboot_ms = soon\n");
  auto backend = sim::make_simulator_file_backend(path);
  std::string why;
  EXPECT_EQ(backend->load(&why), nullptr);
  EXPECT_EQ(why, path + ":3: \"soon\" is not a number");
  EXPECT_EQ(sim::active_simulator(), nullptr);
}

TEST(SimBackend, OptionsChooseTheBackend) {
  std::string why;
  EXPECT_EQ(sim::make_simulator_backend_for_option("usb"), nullptr);
  EXPECT_EQ(sim::make_simulator_backend_for_option("/usr/lib/libvisa.so"), nullptr);
  auto empty_file = sim::make_simulator_backend_for_option("sim:");
  ASSERT_NE(empty_file, nullptr);
  EXPECT_EQ(empty_file->load(&why), nullptr);
  EXPECT_EQ(why, "--visa=sim:FILE needs the name of a simulator description file");

  auto builtin = sim::make_simulator_backend_for_option("sim");
  ASSERT_NE(builtin, nullptr);
  const VisaApi* api = builtin->load(&why);
  ASSERT_NE(api, nullptr);
  EXPECT_EQ(builtin->load(&why), api);  // the same simulator on every load
  ViSession rm = 0;
  ViFindList list = 0;
  ViUInt32 count = 0;
  char desc[VI_FIND_BUFLEN];
  ASSERT_EQ(api->viOpenDefaultRM(&rm), VI_SUCCESS);
  ASSERT_EQ(api->viFindRsrc(rm, "USB[0-9]*::?*::INSTR", &list, &count, desc), VI_SUCCESS);
  EXPECT_STREQ(desc, "USB0::0x1234::0x5678::SIM0001::INSTR");
  builtin.reset();
  EXPECT_EQ(sim::active_simulator(), nullptr);  // gone with its backend
}

TEST(SimBackend, FileBackendRunsTheDescribedInstrumentsAndAppendsTheTranscript) {
  TempDir dir;
  std::string log = dir.write("calls.log", "earlier line\n");
  std::string path = dir.write("two.sim",
                               "transcript = " + log +
                                   "\n[instrument a]\nmain = USB0::0x1::0x2::A::INSTR\n"
                                   "[instrument b]\nmain = USB0::0x1::0x2::B::INSTR\nmain_idn = I am B\\n\n");
  auto backend = sim::make_simulator_file_backend(path);
  std::string why;
  const VisaApi* api = backend->load(&why);
  ASSERT_NE(api, nullptr) << why;
  ViSession rm = 0;
  ViSession vi = 0;
  ViUInt32 count = 0;
  unsigned char reply[100] = {0};
  api->viOpenDefaultRM(&rm);
  ASSERT_EQ(api->viOpen(rm, "USB0::0x1::0x2::B::INSTR", VI_NULL, 1000, &vi), VI_SUCCESS);
  api->viWrite(vi, reinterpret_cast<const unsigned char*>("*IDN?\n"), 6, &count);
  ASSERT_EQ(api->viRead(vi, reply, 100, &count), VI_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), count), "I am B\n");

  std::ifstream in(log);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Real time passes, so compare the lines without their times.
  std::string without_times;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    size_t blank = line.find(' ');
    without_times += (line.starts_with("t=") ? line.substr(blank + 1) : line) + "\n";
  }
  EXPECT_EQ(without_times,
            "earlier line\n"
            "viOpenDefaultRM -> VI_SUCCESS rm=1\n"
            "viOpen rm=1 rsrc=\"USB0::0x1::0x2::B::INSTR\" mode=0 timeout=1000 -> VI_SUCCESS vi=2 [b]\n"
            "viWrite vi=2 [b] \"*IDN?\\n\" -> VI_SUCCESS count=6\n"
            "viRead vi=2 [b] max=100 -> VI_SUCCESS \"I am B\\n\"\n");
}

TEST(SimBackend, TranscriptThatCannotBeOpenedFailsLoad) {
  TempDir dir;
  std::string path = dir.write("t.sim", "transcript = /nonexistent/dir/calls.log\n");
  auto backend = sim::make_simulator_file_backend(path);
  std::string why;
  EXPECT_EQ(backend->load(&why), nullptr);
  EXPECT_EQ(why, path + ": cannot open the transcript file /nonexistent/dir/calls.log");
}

}  // namespace
