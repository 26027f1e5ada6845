// The run's recorder through whole runs against the simulator: the log as
// it is appended and the report as a manufacturing system reads it back.
#include "record/run_recorder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "driver/runner.h"
#include "driver/updater.h"
#include "record/console_tee.h"
#include "script/script_writer.h"
#include "support/recording_platform.h"
#include "support/sim_run.h"
#include "support/temp_dir.h"
#include "support/text_files.h"
#include "visa/sim/sim_backend.h"

namespace {

// The log's lines without their time stamps, which must all be ISO 8601.
std::vector<std::string> unstamped(const std::string& log) {
  static const std::regex stamp(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d )");
  std::vector<std::string> out;
  for (const std::string& line : lines_of(log)) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(line, m, stamp)) << line;
    out.push_back(line.substr(m.length()));
  }
  return out;
}

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  for (const std::string& l : lines) {
    if (l == line) return true;
  }
  return false;
}

const std::string kScript =
    "@version 2.1\n@jump SYST:BOOT\n@boot 2.10\n@hw HW3\n@main ,1.03,\n@u mode=0 binary=0 delay=2000\n"
    "&t$\n&e@00010000$\n&w@00010000$\n&d#00112233445566778899AABBCCDDEEFF$\n&x$\n";

// A run as main wires it: the console tee between the platform and the
// updater, the recorder watching the console, the runner and the link.
class Recorded : public ::testing::Test {
 protected:
  Recorded() : tee(os, false), recorder(os, [this] { return int64_t{1767225600000} + static_cast<int64_t>(os.now_ms()); }) {
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    simulator = std::make_unique<sim::Simulator>(std::move(config), os);
    backend = sim::make_simulator_backend(*simulator);
  }

  int run(const std::string& list_text) {
    std::string error;
    std::string list = dir.write("update.lst", list_text);
    Updater u(tee, backend.get());
    tee.set_sink(&recorder);
    u.run_observer = &recorder;
    u.observer = &recorder;
    recorder.run_started("9.9.9", {"--log=x", list}, list);
    const char* argv[] = {"tmflash", list.c_str()};
    int status = updater_main(u, 2, argv);
    return recorder.run_finished(status, &error);
  }

  std::string script(const std::string& source) {
    std::string text, error;
    EXPECT_TRUE(compile_script(source, &text, &error)) << error;
    return dir.write("fw.txt", text);
  }

  RunRecord report() {
    RunRecord rec;
    std::string why;
    EXPECT_TRUE(parse_report(read_file(report_path), &rec, &why)) << why;
    return rec;
  }

  RecordingPlatform os;
  ConsoleTee tee;
  RunRecorder recorder;
  TempDir dir;
  std::string log_path = dir.file("run.log");
  std::string report_path = dir.file("report.json");
  std::unique_ptr<sim::Simulator> simulator;
  std::unique_ptr<VisaBackend> backend;
};

TEST_F(Recorded, AGoodRunInTheLogAndTheReport) {
  std::string why;
  ASSERT_TRUE(recorder.open_log(log_path, &why)) << why;
  ASSERT_TRUE(recorder.open_report(report_path, &why)) << why;
  std::string fw = script(kScript);
  os.answer({"0"});
  ASSERT_EQ(run("total=2\ndelay=100\nscmd0=echo hello\npath1=" + fw + "\n"), 0);

  std::vector<std::string> log = unstamped(read_file(log_path));
  const std::vector<std::string> expected_start = {
      "run started: tmflash 9.9.9, arguments: --log=x " + dir.file("update.lst"),
      "job 0 started: scmd echo hello",
      "| system cmd:echo hello",
      "shell command ended, status 0",
      "job 0 ok: scmd echo hello, 0 ms",
      "job 1 started: path " + fw,
      "| file(" + fw + ") updating...",
      "| USB:LIST",
      "|  0:" + kMainA,
      "|  1:Search again",
      "| please select:0",  // the operator's answer, as a terminal shows it
      "| select 0:" + kMainA,
      "instrument: " + kMainA + ", serial SIM0001",
      "|   update to version(2.1)",
  };
  ASSERT_GE(log.size(), expected_start.size());
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + expected_start.size()), expected_start);
  for (const char* line : {"read before the jump: *IDN? = TMSIM,TM1000,SIM0001,1.03",
                           "| main *IDN = TMSIM,TM1000,SIM0001,1.03", "| Press any key to continue . . . ",
                           "read after the jump: bootloader version = 2.05#0#HW3",
                           "read after the jump: main version = 1.03", "| update...100.00%", "| Update Ok"}) {
    EXPECT_TRUE(has_line(log, line)) << line << "\n" << read_file(log_path);
  }
  // Virtual time: the jump's 100 ms and the reconnect's 2000 ms wait.
  EXPECT_TRUE(has_line(log, "job 1 ok: path " + fw + ", 2100 ms")) << read_file(log_path);
  EXPECT_EQ(log.back(), "run ended: ok, exit status 0, 2300 ms");  // and 100 ms after each job

  RunRecord rec = report();
  EXPECT_EQ(rec.result, "ok");
  EXPECT_EQ(rec.exit_status, 0);
  EXPECT_EQ(rec.tmflash_version, "9.9.9");
  EXPECT_EQ(rec.list_file, dir.file("update.lst"));
  EXPECT_FALSE(rec.started.empty());
  EXPECT_FALSE(rec.ended.empty());
  EXPECT_EQ(rec.duration_ms, 2300);
  ASSERT_EQ(rec.jobs.size(), 2u);
  EXPECT_EQ(rec.jobs[0].kind, "scmd");
  EXPECT_EQ(rec.jobs[0].argument, "echo hello");
  EXPECT_EQ(rec.jobs[1].kind, "path");
  EXPECT_EQ(rec.jobs[1].slot, 1);
  EXPECT_EQ(rec.jobs[1].result, "ok");
  EXPECT_EQ(rec.jobs[1].duration_ms, 2100);
  EXPECT_EQ(rec.jobs[1].message, "");
  EXPECT_EQ(rec.instrument.resource, kMainA);
  EXPECT_EQ(rec.instrument.serial, "SIM0001");
  EXPECT_EQ(rec.instrument.resources, (std::vector<std::string>{kMainA, kBootA}));
  ASSERT_EQ(rec.instrument.versions_before.size(), 1u);
  EXPECT_EQ(rec.instrument.versions_before[0].query, "*IDN?");
  EXPECT_EQ(rec.instrument.versions_before[0].reply, "TMSIM,TM1000,SIM0001,1.03");
  ASSERT_EQ(rec.instrument.versions_after.size(), 2u);
  EXPECT_EQ(rec.instrument.versions_after[0].reply, "2.05#0#HW3");
  EXPECT_EQ(rec.instrument.versions_after[1].query, "main version");
}

TEST_F(Recorded, AFailedJobNamesItsNumberedMessage) {
  std::string why;
  ASSERT_TRUE(recorder.open_log(log_path, &why)) << why;
  ASSERT_TRUE(recorder.open_report(report_path, &why)) << why;
  std::string fw = script("@boot 3.00\n@jump SYST:BOOT\n@u mode=0 binary=0 delay=2000\n&t$\n&x$\n");
  os.answer({"0"});
  ASSERT_EQ(run("total=2\npath0=" + fw + "\nscmd1=echo never\n"), 1);

  RunRecord rec = report();
  EXPECT_EQ(rec.result, "failed");
  EXPECT_EQ(rec.exit_status, 1);
  ASSERT_EQ(rec.jobs.size(), 1u);  // the run stopped at it
  EXPECT_EQ(rec.jobs[0].result, "failed");
  EXPECT_EQ(rec.jobs[0].message, "Not support this bootloader. (1)");
  EXPECT_EQ(rec.jobs[0].number, "1");
  EXPECT_EQ(rec.message, "Not support this bootloader. (1)");
  EXPECT_EQ(rec.number, "1");

  std::vector<std::string> log = unstamped(read_file(log_path));
  EXPECT_TRUE(has_line(log, "job 0 failed: path " + fw + ", 2100 ms, message Not support this bootloader. (1) [1]"))
      << read_file(log_path);
  EXPECT_EQ(log.back(), "run ended: failed, exit status 1, 2100 ms, message Not support this bootloader. (1)");
}

TEST_F(Recorded, FailuresOutsideAJobAndMessagesWithoutANumber) {
  std::string why;
  ASSERT_TRUE(recorder.open_report(report_path, &why)) << why;
  EXPECT_EQ(run("total=21\n"), 1);
  RunRecord rec = report();
  EXPECT_EQ(rec.message, "Update file is not complete. (3)");
  EXPECT_EQ(rec.number, "3");
  EXPECT_TRUE(rec.jobs.empty());

  // A machine job whose operator's input ends: the message has no number.
  os.clear();
  EXPECT_EQ(run("total=1\nmcmd0=*RST\n"), 1);
  rec = report();
  ASSERT_EQ(rec.jobs.size(), 1u);
  EXPECT_EQ(rec.jobs[0].message, "No instrument chosen: the operator's input has ended.");
  EXPECT_EQ(rec.jobs[0].number, "");
}

TEST_F(Recorded, OneLogFileHoldsManyRuns) {
  std::string why;
  ASSERT_TRUE(recorder.open_log(log_path, &why)) << why;
  ASSERT_EQ(run("total=1\nscmd0=echo one\n"), 0);
  RunRecorder second(os, [] { return int64_t{0}; });
  ASSERT_TRUE(second.open_log(log_path, &why)) << why;
  second.run_started("9.9.9", {}, "b.lst");
  second.run_finished(0, &why);
  std::vector<std::string> log = unstamped(read_file(log_path));
  int starts = 0;
  for (const std::string& line : log) starts += line.starts_with("run started:");
  EXPECT_EQ(starts, 2);
  EXPECT_TRUE(log.back().starts_with("run ended: ok"));
}

TEST_F(Recorded, AReportThatCannotBeWrittenIsRefusedAtTheStart) {
  std::string why;
  EXPECT_FALSE(recorder.open_report(dir.file("no/such/dir/report.json"), &why));
  EXPECT_NE(why.find("no/such/dir/report.json"), std::string::npos) << why;
  EXPECT_FALSE(recorder.open_log(dir.file("no/such/dir/run.log"), &why));
  EXPECT_NE(why.find("run.log"), std::string::npos) << why;
}

TEST(RunLogProgress, KeepsEachWholePercentOnceAndTheEnd) {
  TempDir dir;
  std::string path = dir.file("p.log");
  {
    RunLog log([] { return std::string("T"); });
    std::string why;
    ASSERT_TRUE(log.open(path, &why)) << why;
    for (const char* p : {"update...0.50%\r", "update...0.90%\r", "update...1.10%\r", "update...1.90%\r",
                          "update...99.99%\r", "update...100.00%\r", "\nUpdate Ok\n"}) {
      log.console(p);
    }
    log.console("please select:");
    log.answer("1");
    log.console("bad \x1b[31m byte\ttab\n");
    log.console("no line end");
    log.flush_console();
  }
  EXPECT_EQ(read_file(path),
            "T | update...0.50%\nT | update...1.10%\nT | update...99.99%\nT | update...100.00%\n"
            "T | Update Ok\nT | please select:1\nT | bad \\x1B[31m byte\ttab\nT | no line end\n");
}

TEST(ConsoleTee, NoPauseShowsThePromptWithoutWaiting) {
  RecordingPlatform os;
  ConsoleTee tee(os, true);
  tee.pause();
  EXPECT_EQ(os.log(), "<->Press any key to continue . . . \\n\n");
  ConsoleTee waits(os, false);
  os.clear();
  waits.pause();
  EXPECT_EQ(os.log(), "pause\n");
}

TEST(RunReport, RoundTripsAndRefusesOtherFiles) {
  RunRecord rec;
  rec.result = "ok";
  rec.jobs.push_back(JobRecord{3, "pt", "fw.pkg", "t", 12, "failed", "Corrupted Update File. (10-2)", "10-2", {"n"}});
  rec.instrument.versions_before.push_back({"*IDN?", std::string("bin\xFF", 4)});
  RunRecord back;
  std::string why;
  ASSERT_TRUE(parse_report(report_json(rec), &back, &why)) << why;
  ASSERT_EQ(back.jobs.size(), 1u);
  EXPECT_EQ(back.jobs[0].number, "10-2");
  EXPECT_EQ(back.jobs[0].notes, std::vector<std::string>{"n"});
  EXPECT_EQ(back.instrument.versions_before[0].reply, "bin\xEF\xBF\xBD");  // U+FFFD for the byte that is not UTF-8
  for (const char* text : {"", "[]", "{\"format\":\"other\"}", "{\"format\":7}", "{\"format\":\"tmflash-report-1\",\"jobs\":3}"}) {
    EXPECT_FALSE(parse_report(text, &back, &why)) << text;
  }
}

}  // namespace
