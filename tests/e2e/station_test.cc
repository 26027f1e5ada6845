// The production line's options on the built program, black box: an
// unattended run pinned by serial number with its log and report, the trace
// of the demo played back, the pause that does not wait, and the files an
// option names that cannot be had.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#ifndef _WIN32
#include <sys/wait.h>
#endif

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "script/script_writer.h"
#include "support/run_binary.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace {

using nlohmann::json;

const std::string kDemoDir = std::string(TMFLASH_BUILD_DIR) + "/demo";

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// Two instruments of one model that come back from their jump quickly, with
// a transcript that names the instrument of every call.
class Station : public ::testing::Test {
 protected:
  Station() {
    sim_file = dir.write("bench.sim",
                         "transcript = " + dir.file("calls.txt") +
                             "\n"
                             "[instrument first]\n"
                             "main = USB0::0x1234::0x5678::SIM0001::INSTR\n"
                             "bootloader = USB0::0x1234::0x5679::SIM0001::INSTR\n"
                             "reboot_ms = 50\n"
                             "[instrument second]\n"
                             "main = USB0::0x1234::0x5678::SIM0002::INSTR\n"
                             "bootloader = USB0::0x1234::0x5679::SIM0002::INSTR\n"
                             "main_idn = TMSIM,TM1000,SIM0002,1.03\\n\n"
                             "boot_idn = boot,TM1000,SIM0002,2.05\\n\n"
                             "reboot_ms = 50\n");
  }

  // A script compiled from source, with a short jump delay.
  std::string script(const std::string& name, const std::string& boot) {
    std::string text, error;
    EXPECT_TRUE(compile_script("@version 2.1\n@jump SYST:BOOT\n@boot " + boot +
                                   "\n@hw HW3\n@main ,1.03,\n@u mode=0 binary=0 delay=200\n"
                                   "&t$\n&e@00010000$\n&w@00010000$\n&d#00112233445566778899AABBCCDDEEFF$\n&x$\n",
                               &text, &error))
        << error;
    return dir.write(name, text);
  }

  json report(const std::string& path) {
    json parsed = json::parse(read_file(path), nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << read_file(path);
    return parsed;
  }

  TempDir dir;
  std::string sim_file;
};

TEST_F(Station, UnattendedRunsPinnedBySerialWithTheirLogAndReport) {
  std::string log = dir.file("station.log");
  std::string good = dir.write("good.lst", "total=2\nscmd0=echo preparing\npath1=" + script("fw.txt", "2.10") + "\n");
  std::string bad = dir.write("bad.lst", "total=2\npath0=" + script("old.txt", "3.00") + "\nscmd1=echo never\n");
  auto run = [&](const std::string& report, const std::string& list) {
    return run_tmflash({"--visa=sim:" + sim_file, "--serial=SIM0002", "--no-pause", "--log=" + log, "--report=" + report,
                        list});
  };

  BinaryRun ok = run(dir.file("good.json"), good);
  EXPECT_EQ(ok.status, 0) << ok.output;
  EXPECT_EQ(ok.output.find("USB:LIST"), std::string::npos) << ok.output;
  EXPECT_TRUE(ok.output.ends_with("\nUpdate Ok\n")) << ok.output;
  BinaryRun failed = run(dir.file("bad.json"), bad);
  EXPECT_EQ(failed.status, 1) << failed.output;
  EXPECT_NE(failed.output.find("Not support this bootloader. (1)\nPress any key to continue . . . \n"),
            std::string::npos)
      << failed.output;

  // Only the instrument with the serial was written to, through its jump.
  std::string calls = read_file(dir.file("calls.txt"));
  EXPECT_EQ(calls.find("[first]"), std::string::npos) << calls;
  size_t writes = 0;
  for (const std::string& call : lines_of(calls)) {
    if (!call.starts_with("t=") || call.find(" viWrite ") == std::string::npos) continue;
    ++writes;
    EXPECT_NE(call.find("[second]"), std::string::npos) << call;
  }
  EXPECT_GE(writes, 10u);  // both runs' identity, jump, version and data commands

  // One log, both runs.
  std::string text = read_file(log);
  std::vector<std::string> lines = lines_of(text);
  EXPECT_EQ(count_of(text, " run started: tmflash "), 2u) << text;
  EXPECT_NE(text.find(" instrument: USB0::0x1234::0x5678::SIM0002::INSTR, serial SIM0002\n"), std::string::npos);
  EXPECT_NE(text.find(" instrument: USB0::0x1234::0x5679::SIM0002::INSTR, serial SIM0002\n"), std::string::npos);
  EXPECT_NE(text.find(" | select 1:USB0::0x1234::0x5678::SIM0002::INSTR\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" read before the jump: *IDN? = TMSIM,TM1000,SIM0002,1.03\n"), std::string::npos);
  EXPECT_NE(text.find(" read after the jump: bootloader version = 2.05#0#HW3\n"), std::string::npos);
  EXPECT_NE(text.find(" job 0 ok: scmd echo preparing, "), std::string::npos) << text;
  EXPECT_NE(text.find(" | Not support this bootloader. (1)\n"), std::string::npos) << text;
  EXPECT_NE(text.find(" message Not support this bootloader. (1) [1]\n"), std::string::npos) << text;
  EXPECT_NE(lines.back().find(" run ended: failed, exit status 1, "), std::string::npos) << lines.back();
  EXPECT_EQ(text.find("\x1b["), std::string::npos) << "no colour codes";

  json good_report = report(dir.file("good.json"));
  EXPECT_EQ(good_report["result"], "ok");
  EXPECT_EQ(good_report["exit_status"], 0);
  EXPECT_EQ(good_report["list_file"], good);
  EXPECT_EQ(good_report["format"], "tmflash-report-1");
  EXPECT_FALSE(good_report["tmflash_version"].get<std::string>().empty());
  EXPECT_EQ(good_report["instrument"]["serial"], "SIM0002");
  EXPECT_EQ(good_report["instrument"]["resource"], "USB0::0x1234::0x5678::SIM0002::INSTR");
  EXPECT_EQ(good_report["instrument"]["versions_before"][0]["reply"], "TMSIM,TM1000,SIM0002,1.03");
  EXPECT_EQ(good_report["instrument"]["versions_after"][0]["query"], "bootloader version");
  ASSERT_EQ(good_report["jobs"].size(), 2u);
  EXPECT_EQ(good_report["jobs"][1]["kind"], "path");
  EXPECT_EQ(good_report["jobs"][1]["result"], "ok");
  EXPECT_GE(good_report["jobs"][1]["duration_ms"].get<int>(), 200);  // the jump delay at least

  json bad_report = report(dir.file("bad.json"));
  EXPECT_EQ(bad_report["result"], "failed");
  EXPECT_EQ(bad_report["exit_status"], 1);
  EXPECT_EQ(bad_report["message"], "Not support this bootloader. (1)");
  EXPECT_EQ(bad_report["number"], "1");
  ASSERT_EQ(bad_report["jobs"].size(), 1u);
  EXPECT_EQ(bad_report["jobs"][0]["result"], "failed");
  EXPECT_EQ(bad_report["jobs"][0]["number"], "1");
}

TEST_F(Station, AnAbsentSerialStopsTheRunClearly) {
  std::string list = dir.write("jobs.lst", "total=2\nmcmd0=*RST\nscmd1=echo never\n");
  BinaryRun run = run_tmflash({"--visa=sim:" + sim_file, "--serial=SIM0009", list});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.output,
            "machine cmd:*RST\n"
            "--serial=SIM0009: no instrument with this serial number; found "
            "USB0::0x1234::0x5678::SIM0001::INSTR, USB0::0x1234::0x5678::SIM0002::INSTR\n");
}

// The demo with every option of the record: the console stays what the
// golden file holds. Its trace, played back as the instrument, gives the
// same console and result; a trace cut short stops the replay with its
// reason, exit 1.
TEST(StationTrace, TheDemoTracedAndReplayed) {
  TempDir dir;
  std::string trace = dir.file("demo.jsonl");
  std::string golden = read_file(std::string(TMFLASH_SOURCE_DIR) + "/tests/e2e/demo.golden");
  BinaryRun recorded = run_tmflash({"--visa=sim:instrument.sim", "--trace=" + trace, "--log=" + dir.file("demo.log"),
                                    "--report=" + dir.file("demo.json"), "--no-pause", "demo.lst"},
                                   "0\n", kDemoDir);
  EXPECT_EQ(recorded.status, 0);
  EXPECT_EQ(recorded.output, golden);

  std::vector<std::string> calls = lines_of(read_file(trace));
  ASSERT_GT(calls.size(), 50u);
  for (size_t i = 0; i < calls.size(); ++i) {
    json call = json::parse(calls[i], nullptr, false);
    ASSERT_TRUE(call.is_object()) << calls[i];
    EXPECT_EQ(call["n"], i + 1) << calls[i];
    for (const char* key : {"t_us", "call", "args", "status", "status_name", "out", "us"}) {
      EXPECT_TRUE(call.contains(key)) << key << " in " << calls[i];
    }
  }
  EXPECT_NE(read_file(trace).find(
                R"("call":"viWrite","args":{"vi":16,"data":"SYST:BOOT"},"status":0,"status_name":"VI_SUCCESS")"),
            std::string::npos);

  BinaryRun replayed = run_tmflash({"--visa=replay:" + trace, "demo.lst"}, "0\n", kDemoDir);
  EXPECT_EQ(replayed.status, 0);
  EXPECT_EQ(replayed.output, golden);

  // Cut after the first search: the replay stops at the call it lacks.
  std::string cut = dir.write("cut.jsonl", calls[0] + "\n" + calls[1] + "\n");
  BinaryRun stopped =
      run_tmflash({"--visa=replay:" + cut, "--report=" + dir.file("cut.json"), "demo.lst"}, "0\n", kDemoDir);
  EXPECT_EQ(stopped.status, 1);
  EXPECT_NE(stopped.output.find("replay of " + cut + " stopped: the trace has no call 3; tmflash made viClose "
                                                     "{\"obj\":2}\n"),
            std::string::npos)
      << stopped.output;
  EXPECT_EQ(stopped.output.find("Update Ok"), std::string::npos);
  json cut_report = json::parse(read_file(dir.file("cut.json")), nullptr, false);
  EXPECT_EQ(cut_report["result"], "failed");
  EXPECT_EQ(cut_report["jobs"].back()["result"], "failed");
  EXPECT_NE(cut_report["message"].get<std::string>().find("stopped: the trace has no call 3"), std::string::npos);

  // A call with other bytes than the trace has.
  std::string trace_text = read_file(trace);
  size_t at = trace_text.find("SYST:BOOT");
  ASSERT_NE(at, std::string::npos);
  trace_text.replace(at, 9, "SYST:BOOX");
  std::string changed = dir.write("changed.jsonl", trace_text);
  BinaryRun diverged = run_tmflash({"--visa=replay:" + changed, "demo.lst"}, "0\n", kDemoDir);
  EXPECT_EQ(diverged.status, 1);
  EXPECT_NE(diverged.output.find("{\"vi\":16,\"data\":\"SYST:BOOX\"} in the trace; tmflash made viWrite "
                                 "{\"vi\":16,\"data\":\"SYST:BOOT\"}\n"),
            std::string::npos)
      << diverged.output;
}

// Any backend can be traced: here the simulator as a VISA shared library,
// through the library loader.
TEST(StationTrace, ALoadedLibraryIsTracedToo) {
  TempDir dir;
  std::string sim = dir.write("one.sim", "[instrument only]\nmain = USB0::0x1234::0x5678::SIM0001::INSTR\n");
  std::string list = dir.write("jobs.lst", "total=1\nmcmd0=*RST\n");
  std::string trace = dir.file("t.jsonl");
  BinaryRun run = run_tmflash({"--visa=" + std::string(TMFLASH_SIM_LIBRARY), "--select=0", "--trace=" + trace, list},
                              "", "", {{"TMFLASH_SIM", sim}});
  EXPECT_EQ(run.status, 0) << run.output;
  std::string text = read_file(trace);
  EXPECT_NE(text.find(R"("call":"viWrite","args":{"vi":)"), std::string::npos) << text;
  EXPECT_NE(text.find(R"("data":"*RST"},"status":0)"), std::string::npos) << text;
}

TEST(StationFiles, AFileAnOptionNamesThatCannotBeHadStopsBeforeAnyJob) {
  TempDir dir;
  std::string list = dir.write("jobs.lst", "total=1\nscmd0=echo never\n");
  std::string missing = dir.file("no/such/dir/f");
  for (const char* option : {"--log=", "--report=", "--trace="}) {
    BinaryRun run = run_tmflash({std::string(option) + missing, list});
    EXPECT_EQ(run.status, 1) << option;
    EXPECT_TRUE(run.output.starts_with("tmflash: cannot ")) << option << run.output;
    EXPECT_NE(run.output.find(missing + ": No such file or directory\n"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("never"), std::string::npos) << option;
    EXPECT_EQ(run.output.find("Press any key"), std::string::npos) << option;
  }
}

// On a terminal the pause waits for a key; with --no-pause it does not. The
// terminal comes from script(1); its input is a pipe that stays open and
// sends no key.
#ifndef _WIN32  // a pseudo-terminal from script(1): POSIX only (cmake/windows.cmake)
TEST(StationPause, NoPauseDoesNotWaitOnATerminal) {
  if (system("command -v script >/dev/null 2>&1 && command -v timeout >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "script(1) or timeout(1) not installed";
  }
  auto status_of = [](const std::string& options) {
    std::string command = "sleep 4 | timeout 3 script -qec \"'" + std::string(TMFLASH_BINARY) + "' " + options +
                          "\" /dev/null >/dev/null 2>&1";
    int raw = system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  };
  EXPECT_EQ(status_of("--no-pause"), 1);  // "parameters error", the prompt, no wait
  EXPECT_EQ(status_of(""), 124);          // waits for a key until timeout ends it
}
#endif

}  // namespace
