// tmflash --all as a station runs it: the built program, a bench of four
// simulated instruments in one .sim file (each child builds its own
// simulator from it, so each writes its own flash file), real processes and
// real time.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/run_binary.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace {

const std::string kPackage = std::string(TMFLASH_BUILD_DIR) + "/demo/firmware.pkg";

// Four TM1000s of the same product IDs with other serial numbers, as the
// demo's instrument but back from their jump after 200 ms; SN1003 answers
// its bootloader's commands with the wrong letter.
std::string bench(const std::string& flash_pattern, const char* const serials[4], int wrong = 2) {
  std::string text = "flash_file = " + flash_pattern + "\n";
  for (int i = 0; i < 4; ++i) {
    std::string sn = serials[i];
    text += "[instrument " + sn + "]\n"
            "main = USB0::0x1234::0x5678::" + sn + "::INSTR\n"
            "bootloader = USB0::0x1234::0x5679::" + sn + "::INSTR\n"
            "main_idn = TMSIM,TM1000," + sn + ",1.03\\n\n"
            "boot_idn = boot,TM1000," + sn + ",2.05\\n\n"
            "syst_info = 1#main#2.10#HW3,2#fpga#2.01#HW3,-1#TM1000#\\n\n"
            "reboot_ms = 200\n";
    if (i == wrong) text += "wrong_echo_first = 1000\n";
  }
  return text;
}

const char* kSerials[4] = {"SN1001", "SN1002", "SN1003", "SN1004"};

// The flash file of an instrument the demo package updated whole: its
// binary section's 96 counting bytes, its framed section's bitstream.
std::string hex_of(const std::string& bytes) {
  std::string text;
  char hex[3];
  for (unsigned char b : bytes) {
    snprintf(hex, sizeof hex, "%02X", b);
    text += hex;
  }
  return text;
}

std::string updated_flash(const std::string& name) {
  std::string counting;
  for (int i = 0; i < 0x60; ++i) counting += static_cast<char>(i);
  return name + " 0x00020000 " + hex_of(counting) + "\n" + name + " 0x00030000 " +
         hex_of(std::string("FPGA bitstream\0", 15)) + "\n";
}

struct TimedRun {
  BinaryRun run;
  double seconds = 0;
};

class FleetBinary : public ::testing::Test {
 protected:
  TimedRun run_fleet(std::vector<std::string> options) {
    dir_list = dir.write("update.lst", "total=1\npt0=" + kPackage + "\n");
    std::string sim = dir.write("bench.sim", bench(dir.file("flash-{name}.txt"), kSerials));
    auto start = std::chrono::steady_clock::now();
    TimedRun t;
    std::vector<std::string> args = {"--visa=sim:" + sim, "--all"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("update.lst");
    t.run = run_tmflash(args, "", dir.path());
    t.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return t;
  }
  TempDir dir;
  std::string dir_list;
};

TEST_F(FleetBinary, FourInstrumentsThreeUpdatedOneFailedEachInItsOwnFlash) {
  TimedRun t = run_fleet({"-j", "4", "--log-dir=logs", "--report=fleet.json"});
  EXPECT_EQ(t.run.status, 1) << t.run.output << t.run.errors;
  // The summary; then the pause each child did not wait for: its
  // bootloader enumerates under another product ID, which a run warns of.
  EXPECT_NE(t.run.output.find("\nfleet: 4 instruments, 3 Update Ok, 1 failed\n"
                              "SN1003: failed: Corrupted Update File. (10-5)\n"
                              "SN1001: did not wait at a pause after: different from "
                              "USB0::0x1234::0x5679::SN1001::INSTR USB0::0x1234::0x5678::SN1001::INSTR\n"),
            std::string::npos)
      << t.run.output;
  for (const char* sn : {"SN1001", "SN1002", "SN1004"}) {
    EXPECT_NE(t.run.output.find(std::string(sn) + ": Update Ok\n"), std::string::npos) << sn << t.run.output;
    EXPECT_EQ(read_file(dir.file(std::string("flash-") + sn + ".txt")), updated_flash(sn)) << sn;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("flash-SN1003.txt"))) << "its image never completed";

  // Each child's console in its own log; the report, one entry each.
  std::string log = read_file(dir.file("logs/SN1003.log"));
  EXPECT_NE(log.find("| Corrupted Update File. (10-5)"), std::string::npos) << log;
  EXPECT_NE(read_file(dir.file("logs/SN1001.log")).find("| Update Ok"), std::string::npos);
  nlohmann::json report = nlohmann::json::parse(read_file(dir.file("fleet.json")));
  ASSERT_EQ(report["instruments"].size(), 4u);
  EXPECT_EQ(report["instruments"][2]["serial"], "SN1003");
  EXPECT_EQ(report["instruments"][2]["number"], "10-5");
  EXPECT_EQ(report["instruments"][2]["run"]["instrument"]["serial"], "SN1003");
  EXPECT_EQ(report["instruments"][0]["result"], "ok");
  EXPECT_EQ(report["exit_status"], 1);

  // Real time: each child waits the package's 3 s jump delay and its
  // instrument's reboot. With -j 4 the four waits overlap: the fleet takes
  // about as long as its longest instrument.
  double longest = 0;
  for (const auto& in : report["instruments"]) longest = std::max(longest, in["duration_ms"].get<double>() / 1000);
  EXPECT_GT(longest, 3.0);
  EXPECT_LT(t.seconds, longest * 1.3 + 0.5) << "-j 4: " << t.seconds << " s, longest instrument " << longest << " s";
  RecordProperty("fleet_j4_seconds", std::to_string(t.seconds));
  RecordProperty("longest_instrument_seconds", std::to_string(longest));
}

TEST_F(FleetBinary, OneAtATimeTakesTheSumOfTheInstruments) {
  TimedRun t = run_fleet({"-j", "1", "--report=fleet.json"});
  EXPECT_EQ(t.run.status, 1) << t.run.output;
  nlohmann::json report = nlohmann::json::parse(read_file(dir.file("fleet.json")));
  double sum = 0, longest = 0;
  for (const auto& in : report["instruments"]) {
    double s = in["duration_ms"].get<double>() / 1000;
    sum += s;
    longest = std::max(longest, s);
  }
  EXPECT_GT(t.seconds, sum * 0.95) << "no two children overlapped";
  EXPECT_GT(t.seconds, 3.5 * longest * 0.9) << "-j 1: " << t.seconds << " s, longest instrument " << longest << " s";
  RecordProperty("fleet_j1_seconds", std::to_string(t.seconds));
}

TEST_F(FleetBinary, DuplicateSerialsAreRefusedBeforeAnyChildStarts) {
  // Two instruments of one model with the same serial number, on two USB
  // controllers, and one of another serial.
  std::string sim = dir.write("bench.sim", "transcript = " + dir.file("calls.txt") +
                                               "\n[instrument a]\nmain = USB0::0x1234::0x5678::SN1001::INSTR\n"
                                               "[instrument b]\nmain = USB0::0x1234::0x5678::SN1002::INSTR\n"
                                               "[instrument c]\nmain = USB1::0x1234::0x5678::SN1001::INSTR\n");
  dir.write("update.lst", "total=1\npt0=" + kPackage + "\n");
  BinaryRun r = run_tmflash({"--visa=sim:" + sim, "--all", "--log-dir=logs", "update.lst"}, "", dir.path());
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.output, "");
  EXPECT_EQ(r.errors,
            "tmflash: --all: instruments that cannot be told apart by serial number (serial number SN1001 "
            "carried by USB0::0x1234::0x5678::SN1001::INSTR, USB1::0x1234::0x5678::SN1001::INSTR); nothing was "
            "started\n");
  // Only the fleet's own search reached the simulator: no child opened an
  // instrument, none wrote a log.
  std::string calls = read_file(dir.file("calls.txt"));
  EXPECT_NE(calls.find("viFindRsrc"), std::string::npos) << calls;
  EXPECT_EQ(calls.find("viOpen("), std::string::npos) << calls;
  EXPECT_EQ(calls.find("viOpen "), std::string::npos) << calls;
  EXPECT_FALSE(std::filesystem::exists(dir.file("logs")));
}

TEST_F(FleetBinary, CtrlCStopsEveryChildAndNamesThoseLeftInTheBootloader) {
  // Serials of its own: no other test's children are counted below.
  const char* const kOwnSerials[4] = {"SN2001", "SN2002", "SN2003", "SN2004"};
  dir.write("update.lst", "total=1\npt0=" + kPackage + "\n");
  std::string sim = dir.write("bench.sim", bench(dir.file("flash-{name}.txt"), kOwnSerials));
  // One second in, every child waits for its instrument after the jump
  // (the package's 3 s jump delay); then the fleet gets SIGINT, as from a
  // Ctrl-C, which a shell's background program would otherwise ignore.
  std::string command = "'" + std::string(TMFLASH_BINARY) + "' --visa=sim:" + sim +
                        " --all --report=fleet.json update.lst > out.txt 2>&1 & pid=$!; sleep 1; kill -INT $pid; "
                        "wait $pid; echo $? > status.txt; ps -eo args | grep -c -- '--serial=SN20[0]' > left.txt; true";
  auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(system(("cd '" + dir.path() + "'; " + command).c_str()), 0);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(read_file(dir.file("status.txt")), "1\n");
  std::string out = read_file(dir.file("out.txt"));
  EXPECT_TRUE(out.ends_with("fleet: 4 instruments, 0 Update Ok, 4 stopped\n"
                            "SN2001: stopped: may be left in the bootloader\n"
                            "SN2002: stopped: may be left in the bootloader\n"
                            "SN2003: stopped: may be left in the bootloader\n"
                            "SN2004: stopped: may be left in the bootloader\n"
                            "fleet: stopped by Ctrl-C; may be left in the bootloader: SN2001, SN2002, SN2003, SN2004\n"))
      << out;
  EXPECT_LT(seconds, 2.5) << "the children were stopped, not waited for";
  // No child is left running (the pattern does not match its own text).
  EXPECT_EQ(read_file(dir.file("left.txt")), "0\n");
  nlohmann::json report = nlohmann::json::parse(read_file(dir.file("fleet.json")));
  EXPECT_EQ(report["instruments"][0]["result"], "stopped");
  EXPECT_EQ(report["instruments"][0]["may_be_in_bootloader"], true);
}

}  // namespace
