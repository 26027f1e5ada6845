// The fleet run against scripted children in virtual time: which children
// start, with which arguments and how many at once, what the operator sees
// for each instrument, the summary, the report, and a Ctrl-C.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>

#include "fleet/fleet_run.h"
#include "fleet/fleet_search.h"
#include "fleet/instrument_run.h"
#include "record/run_record.h"
#include "support/recording_platform.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace {

std::string rsrc(const std::string& serial) { return "USB0::0x1234::0x5678::" + serial + "::INSTR"; }

// --- telling instruments apart ---------------------------------------------

TEST(FleetSerials, EveryInstrumentNeedsASerialOfItsOwn) {
  struct Case {
    std::vector<std::string> rsrcs;
    std::string faults;
  } cases[] = {
      {{rsrc("A1"), rsrc("A2"), "USB0::0x1234::0x5679::A3::INSTR"}, ""},
      {{rsrc("A1"), "USB0::0x1234::0x5679::A1::INSTR", rsrc("A2")},
       "serial number A1 carried by USB0::0x1234::0x5678::A1::INSTR, USB0::0x1234::0x5679::A1::INSTR"},
      {{rsrc("A1"), "TCPIP0::10.0.0.1::INSTR", "USB0::0x1234::0x5678::::INSTR"},
       "no serial number: TCPIP0::10.0.0.1::INSTR, USB0::0x1234::0x5678::::INSTR"},
      {{rsrc("B"), "ASRL1::INSTR", rsrc("B"), rsrc("C"), "USB1::0x1::0x2::C::1::INSTR"},
       "no serial number: ASRL1::INSTR; serial number B carried by USB0::0x1234::0x5678::B::INSTR, "
       "USB0::0x1234::0x5678::B::INSTR; serial number C carried by USB0::0x1234::0x5678::C::INSTR, "
       "USB1::0x1::0x2::C::1::INSTR"},
  };
  for (const Case& c : cases) EXPECT_EQ(serial_faults(c.rsrcs), c.faults);
}

TEST(FleetPaths, ChildFilesBesideTheFleetsOrInTheFolder) {
  EXPECT_EQ(per_instrument_path("logs/station.log", "", "SN1", ".log"), "logs/station-SN1.log");
  EXPECT_EQ(per_instrument_path("station", "", "SN1", ".log"), "station-SN1");
  EXPECT_EQ(per_instrument_path("station.log", "out", "SN1", ".log"), "out/SN1.log");
  // A dot in a folder's name is no extension; a leading dot names a file.
  EXPECT_EQ(per_instrument_path("run.d/station", "", "SN1", ".log"), "run.d/station-SN1");
  EXPECT_EQ(per_instrument_path("logs/.station", "", "SN1", ".log"), "logs/.station-SN1");
  EXPECT_EQ(per_instrument_path("station.log", "out/", "SN1", ".log"), "out/SN1.log");
  EXPECT_EQ(file_safe("SN/1 x:2"), "SN_1_x_2");
}

// --- what a child's console says -------------------------------------------

TEST(InstrumentRunOutput, JobProgressHandshakeAndEnd) {
  InstrumentRun in;
  in.serial = "SN1";
  in.state = InstrumentState::kRunning;
  EXPECT_EQ(status_line(in), "SN1: running");
  take_output(in, "system cmd:echo hi\nhi\nfile(fw.pkg) upda");
  EXPECT_EQ(status_line(in), "SN1: running: system cmd:echo hi");
  take_output(in, "ting...\nselect 0:" + rsrc("SN1") + "\nmain *IDN = TMSIM,TM1000,SN1,1.03\n");
  EXPECT_TRUE(in.reached_jump);
  take_output(in, "update...12.50%\rupdate...42.86%\r");
  EXPECT_EQ(status_line(in), "SN1: running: file(fw.pkg) updating... 42.86%");
  EXPECT_EQ(change_key(in), "1|file(fw.pkg) updating...|4");
  take_output(in, "update...100.00%\nUpdate Ok\n");
  take_end(in, 0, "");
  EXPECT_EQ(status_line(in), "SN1: Update Ok");
  EXPECT_TRUE(in.pauses.empty());
}

TEST(InstrumentRunOutput, APauseIsKeptWithTheMessageShownBeforeIt) {
  InstrumentRun in;
  in.serial = "SN1";
  in.state = InstrumentState::kRunning;
  take_output(in, "select 0:USB0::0x1234::0x5679::SN1::INSTR\ndifferent from \nUSB0::0x1234::0x5679::SN1::INSTR\n"
                  "USB0::0x1234::0x5678::SN1::INSTR\nplease ENTER continue\nPress any key to continue . . . \n");
  take_output(in, "Bootloader version=2.05#0#HW3\nbootloader isn't release's version\nPress any key to continue . . . \n");
  EXPECT_EQ(in.pauses, (std::vector<std::string>{
                           "different from USB0::0x1234::0x5679::SN1::INSTR USB0::0x1234::0x5678::SN1::INSTR",
                           "bootloader isn't release's version"}));
}

TEST(InstrumentRunOutput, AFailureIsNamedByTheChildsReportOrElseItsLastLine) {
  RunRecord rec;
  rec.result = "failed";
  rec.message = "Corrupted Update File. (10-5)";
  rec.number = "10-5";
  InstrumentRun a;
  a.serial = "A";
  take_output(a, "Corrupted Update File. (10-5)\nDevice is failed connected. (8)\nPress any key to continue . . . \n");
  take_end(a, 1, report_json(rec));
  EXPECT_EQ(status_line(a), "A: failed: Corrupted Update File. (10-5)");
  EXPECT_EQ(a.number, "10-5");

  InstrumentRun b;
  b.serial = "B";
  take_output(b, "Device is failed connected. (7)");  // no line end: the child was killed
  take_end(b, 128 + 9, "");
  EXPECT_EQ(b.message, "Device is failed connected. (7) (ended by signal 9)");
  EXPECT_EQ(b.number, "7");

  InstrumentRun c;  // exit 0 without "Update Ok" is no success
  c.serial = "C";
  take_end(c, 0, "");
  EXPECT_EQ(status_line(c), "C: failed: ended with exit status 0");
}

// --- the fleet against scripted children -------------------------------------

// One child's life: output at given times (ms after its start), then its end.
struct Script {
  std::vector<std::pair<uint64_t, std::string>> output;
  uint64_t end_ms = 0;
  int status = 0;
  std::string report;  // written to its --report before it ends
  bool ignores_stop = false;
};

class ScriptedProcesses : public Processes {
 public:
  explicit ScriptedProcesses(RecordingPlatform& clock) : clock_(clock) {}

  std::map<std::string, Script> scripts;  // by serial
  std::vector<std::vector<std::string>> started;
  int max_running = 0;
  uint64_t interrupt_at_ms = UINT64_MAX;
  int interrupt_signal = 2;
  std::vector<int> stopped;

  int start(const std::vector<std::string>& args, std::string*) override {
    started.push_back(args);
    Child c;
    for (const std::string& a : args) {
      if (a.starts_with("--serial=")) c.script = scripts.at(a.substr(9));
      if (a.starts_with("--report=")) c.report_path = a.substr(9);
    }
    c.start_ms = clock_.now_ms();
    children_.push_back(c);
    max_running = std::max(max_running, running());
    return static_cast<int>(children_.size()) - 1;
  }

  void wait(int timeout_ms, std::vector<ChildEvent>* events) override {
    uint64_t until = clock_.now_ms() + static_cast<uint64_t>(timeout_ms);
    uint64_t next = std::min(until, interrupted() ? until : interrupt_at_ms);
    for (const Child& c : children_) {
      if (c.ended) continue;
      if (c.next < c.script.output.size()) next = std::min(next, c.start_ms + c.script.output[c.next].first);
      next = std::min(next, c.start_ms + c.script.end_ms);
    }
    if (next > clock_.now_ms()) clock_.wait_ms(static_cast<uint32_t>(next - clock_.now_ms()));
    for (size_t i = 0; i < children_.size(); ++i) {
      Child& c = children_[i];
      if (c.ended) continue;
      for (; c.next < c.script.output.size() && c.start_ms + c.script.output[c.next].first <= clock_.now_ms(); ++c.next) {
        events->push_back(ChildEvent{ChildEvent::kOutput, static_cast<int>(i), c.script.output[c.next].second, 0});
      }
      if (c.start_ms + c.script.end_ms <= clock_.now_ms()) {
        if (!c.script.report.empty()) write_text(c.report_path, c.script.report);
        c.ended = true;
        events->push_back(ChildEvent{ChildEvent::kEnded, static_cast<int>(i), {}, c.script.status});
      }
    }
  }

  void stop(int child) override {
    stopped.push_back(child);
    Child& c = children_[child];
    if (c.script.ignores_stop) return;
    c.script.end_ms = clock_.now_ms() - c.start_ms;  // ends at once, by the signal
    c.script.status = 128 + 15;
    c.script.output.resize(c.next);
  }

  int interrupted() override { return clock_.now_ms() >= interrupt_at_ms ? interrupt_signal : 0; }
  int terminal_columns() override { return columns; }
  int columns = 0;

 private:
  struct Child {
    Script script;
    std::string report_path;
    uint64_t start_ms = 0;
    size_t next = 0;
    bool ended = false;
  };
  int running() const {
    return static_cast<int>(std::count_if(children_.begin(), children_.end(), [](const Child& c) { return !c.ended; }));
  }
  static void write_text(const std::string& path, const std::string& text) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
  }
  RecordingPlatform& clock_;
  std::vector<Child> children_;
};

// A child that updates its instrument: the package's notice, the jump, the
// progress, "Update Ok" after ms.
Script updating(uint64_t ms) {
  return Script{{{10, "file(fw.pkg) updating...\nselect 0:X\nmain *IDN = TMSIM\n"},
                 {ms / 2, "update...50.00%\r"},
                 {ms - 10, "update...100.00%\r\nUpdate Ok\n"}},
                ms,
                0,
                "",
                false};
}

Script failing(uint64_t ms, const std::string& message, const std::string& number) {
  RunRecord rec;
  rec.result = "failed";
  rec.exit_status = 1;
  rec.message = message;
  rec.number = number;
  return Script{{{10, "file(fw.pkg) updating...\n"}, {ms - 10, message + "\nPress any key to continue . . . \n"}},
                ms,
                1,
                report_json(rec),
                false};
}

class FleetRun : public ::testing::Test {
 protected:
  FleetRun() : processes(os) {
    o.program = "/opt/tmflash";
    o.child_options = {"--visa=sim:bench.sim"};
    o.list_file = "update.lst";
    o.work_dir = dir.path();
    o.version = "9.9";
    o.arguments = {"--all", "update.lst"};
  }

  int run(const std::vector<std::string>& serials) {
    std::vector<std::string> rsrcs;
    for (const std::string& s : serials) rsrcs.push_back(rsrc(s));
    return run_fleet(o, rsrcs, processes, os, os, [] { return int64_t{1700000000000}; });
  }

  TempDir dir;
  RecordingPlatform os;
  ScriptedProcesses processes;
  FleetOptions o;
};

TEST_F(FleetRun, PipedOneLinePerChangeAndASummaryThatNamesTheFailure) {
  processes.scripts["SN1"] = updating(3000);
  processes.scripts["SN2"] = failing(1000, "Corrupted Update File. (10-5)", "10-5");
  processes.scripts["SN3"] = updating(2000);
  o.log_dir = dir.file("logs");
  EXPECT_EQ(run({"SN1", "SN2", "SN3"}), 1);
  EXPECT_EQ(os.text(),
            "SN1: running\n"
            "SN2: running\n"
            "SN3: running\n"
            "SN1: running: file(fw.pkg) updating...\n"
            "SN2: running: file(fw.pkg) updating...\n"
            "SN3: running: file(fw.pkg) updating...\n"
            "SN2: failed: Corrupted Update File. (10-5)\n"
            "SN3: running: file(fw.pkg) updating... 50.00%\n"
            "SN1: running: file(fw.pkg) updating... 50.00%\n"
            "SN3: running: file(fw.pkg) updating... 100.00%\n"
            "SN3: Update Ok\n"
            "SN1: running: file(fw.pkg) updating... 100.00%\n"
            "SN1: Update Ok\n"
            "fleet: 3 instruments, 2 Update Ok, 1 failed\n"
            "SN2: failed: Corrupted Update File. (10-5)\n");
  EXPECT_EQ(os.errors(), "");
  // Every child at once (no -j); each pinned by its serial, never pausing,
  // its report in the fleet's folder and its log in --log-dir.
  EXPECT_EQ(processes.max_running, 3);
  ASSERT_EQ(processes.started.size(), 3u);
  EXPECT_EQ(processes.started[1],
            (std::vector<std::string>{"/opt/tmflash", "--visa=sim:bench.sim", "--serial=SN2", "--no-pause",
                                      "--report=" + dir.path() + "/SN2.json", "--log=" + dir.path() + "/logs/SN2.log", "update.lst"}));
  EXPECT_EQ(os.now_ms(), 3000u) << "the fleet took as long as its longest instrument";
}

TEST_F(FleetRun, AtMostJChildrenAtOnceInTheOrderFound) {
  for (const char* s : {"A", "B", "C", "D", "E"}) processes.scripts[s] = updating(1000);
  o.jobs = 2;
  EXPECT_EQ(run({"A", "B", "C", "D", "E"}), 0);
  EXPECT_EQ(processes.max_running, 2);
  EXPECT_EQ(os.now_ms(), 3000u) << "five runs of 1 s, two at a time";
  std::vector<std::string> order;
  for (const auto& args : processes.started) order.push_back(args[2]);
  EXPECT_EQ(order, (std::vector<std::string>{"--serial=A", "--serial=B", "--serial=C", "--serial=D", "--serial=E"}));
  EXPECT_TRUE(os.text().ends_with("E: Update Ok\nfleet: 5 instruments, 5 Update Ok\n")) << os.text();
  EXPECT_NE(os.text().find("C: waiting\n"), std::string::npos);
}

TEST_F(FleetRun, APauseAChildDidNotWaitForIsNamedInTheSummary) {
  Script warned = updating(1000);
  warned.output.insert(warned.output.begin() + 1,
                       {100, "bootloader isn't release's version\nPress any key to continue . . . \n"});
  processes.scripts["SN1"] = warned;
  EXPECT_EQ(run({"SN1"}), 0);
  EXPECT_TRUE(os.text().ends_with("fleet: 1 instruments, 1 Update Ok\n"
                                  "SN1: did not wait at a pause after: bootloader isn't release's version\n"))
      << os.text();
}

TEST_F(FleetRun, CtrlCStopsEveryChildAndNamesThoseThatMayBeInTheBootloader) {
  processes.scripts["SN1"] = updating(5000);            // past its jump at the Ctrl-C
  processes.scripts["SN2"] = Script{{{10, "machine cmd:*RST\n"}}, 5000, 0, "", false};  // before any jump
  processes.scripts["SN3"] = updating(5000);            // never started: -j 2
  processes.interrupt_at_ms = 1000;
  o.jobs = 2;
  EXPECT_EQ(run({"SN1", "SN2", "SN3"}), 1);
  EXPECT_EQ(processes.stopped, (std::vector<int>{0, 1}));
  EXPECT_EQ(processes.started.size(), 2u);
  EXPECT_TRUE(os.text().ends_with("fleet: 3 instruments, 0 Update Ok, 2 stopped, 1 not started\n"
                                  "SN1: stopped: may be left in the bootloader\n"
                                  "SN2: stopped before its jump to the bootloader\n"
                                  "SN3: not started\n"
                                  "fleet: stopped by Ctrl-C; may be left in the bootloader: SN1\n"))
      << os.text();
}

TEST_F(FleetRun, TheReportHasOneEntryPerInstrumentWithItsChildsRun) {
  processes.scripts["SN1"] = updating(1000);
  processes.scripts["SN2"] = failing(500, "Device is failed connected. (7)", "7");
  o.report = dir.file("fleet.json");
  EXPECT_EQ(run({"SN1", "SN2"}), 1);
  nlohmann::json report = nlohmann::json::parse(read_file(o.report));
  EXPECT_EQ(report["format"], "tmflash-fleet-report-1");
  EXPECT_EQ(report["result"], "failed");
  EXPECT_EQ(report["exit_status"], 1);
  ASSERT_EQ(report["instruments"].size(), 2u);
  const nlohmann::json& first = report["instruments"][0];
  EXPECT_EQ(first["serial"], "SN1");
  EXPECT_EQ(first["resource"], rsrc("SN1"));
  EXPECT_EQ(first["result"], "ok");
  EXPECT_EQ(first["duration_ms"], 1000);
  EXPECT_TRUE(first["run"].is_null()) << "this scripted child wrote no report";
  const nlohmann::json& second = report["instruments"][1];
  EXPECT_EQ(second["result"], "failed");
  EXPECT_EQ(second["message"], "Device is failed connected. (7)");
  EXPECT_EQ(second["number"], "7");
  EXPECT_EQ(second["run"]["message"], "Device is failed connected. (7)") << "the child's own report, whole";
}

TEST_F(FleetRun, AReportThatCannotBeWrittenStopsBeforeAnyChild) {
  processes.scripts["SN1"] = updating(1000);
  o.report = dir.file("no-such-folder/fleet.json");
  EXPECT_EQ(run({"SN1"}), 1);
  EXPECT_TRUE(processes.started.empty());
  EXPECT_NE(os.errors().find("tmflash: cannot write the report"), std::string::npos) << os.errors();
}

TEST_F(FleetRun, OnATerminalTheLinesAreRedrawnInPlace) {
  processes.scripts["SN1"] = updating(1000);
  processes.scripts["SN2"] = updating(1000);
  processes.columns = 17;  // lines of at most 16 characters
  EXPECT_EQ(run({"SN1", "SN2"}), 0);
  // What the terminal shows at the end: each instrument's last line, then
  // the summary.
  std::string text = os.text();
  size_t last_draw = text.rfind("\x1b[2A\r");
  ASSERT_NE(last_draw, std::string::npos) << text;
  EXPECT_EQ(text.substr(last_draw), "\x1b[2A\r\x1b[2KSN1: Update Ok\n\x1b[2KSN2: Update Ok\n"
                                    "fleet: 2 instruments, 2 Update Ok\n");
  EXPECT_EQ(text.find("\x1b[2K"), 0u) << "the first drawing moves nothing";
  EXPECT_NE(text.find("\x1b[2KSN1: running: fi\n"), std::string::npos) << "a line no wider than the terminal";
}

}  // namespace

// --- the command line of a fleet run ------------------------------------------

#include "app/command_line.h"

namespace {

CommandLine parse(std::vector<const char*> words) {
  words.insert(words.begin(), "tmflash");
  return parse_command_line(static_cast<int>(words.size()), words.data());
}

TEST(FleetCommandLine, AllWithItsJobsAndLogFolder) {
  struct Case {
    std::vector<const char*> words;
    int jobs;
  } cases[] = {
      {{"--all", "u.lst"}, 0},
      {{"--all", "-j", "4", "u.lst"}, 4},
      {{"--all", "-j4", "u.lst"}, 4},
      {{"-j3", "--all", "u.lst"}, 3},
      {{"--all", "--jobs=2", "--log-dir", "logs", "u.lst"}, 2},
  };
  for (const Case& c : cases) {
    CommandLine cl = parse(c.words);
    ASSERT_EQ(cl.action, CommandLine::kRun) << c.words[1] << " " << cl.error;
    EXPECT_TRUE(cl.all);
    EXPECT_EQ(cl.jobs, c.jobs) << c.words[1];
    EXPECT_EQ(cl.list_file.value_or(""), "u.lst");
  }
  EXPECT_EQ(parse({"--all", "--jobs=2", "--log-dir", "logs", "u.lst"}).log_dir, "logs");
}

TEST(FleetCommandLine, WhatDoesNotGoWithAllIsRefused) {
  for (std::vector<const char*> words : std::vector<std::vector<const char*>>{
           {"-j", "2", "u.lst"},              // -j without --all
           {"--log-dir=x", "u.lst"},          // likewise
           {"--all", "-j", "0", "u.lst"},     // at least one at a time
           {"--all", "--serial=SN1", "u.lst"},
           {"--all", "--select=0", "u.lst"},
           {"--all", "--check", "u.lst"},
       }) {
    EXPECT_EQ(parse(words).action, CommandLine::kError) << words[0] << " " << words[1];
  }
}

}  // namespace
