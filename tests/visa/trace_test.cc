// The trace of VISA calls and its replay, in process: every call of a whole
// run written down and played back to the same console, byte for byte, and
// a replay that meets a call its trace does not have.
#include "visa/trace/trace_backend.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "driver/runner.h"
#include "driver/updater.h"
#include "support/recording_platform.h"
#include "support/sim_run.h"
#include "support/temp_dir.h"
#include "support/text_files.h"
#include "visa/sim/sim_backend.h"
#include "visa/trace/traced_api.h"

namespace {

TEST(TraceBytes, EveryByteRoundTripsAndOnlyLatin1TextIsBytes) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  std::string back;
  ASSERT_TRUE(trace::text_bytes(trace::bytes_text(all), &back));
  EXPECT_EQ(back, all);
  EXPECT_EQ(trace::bytes_text("*IDN?\n"), "*IDN?\n");  // text stays text
  for (const char* bad : {"\xC4\x80", "\xE2\x82\xAC", "\xC3", "\xC3\x41", "\x80"}) {
    EXPECT_FALSE(trace::text_bytes(bad, &back)) << trace::bytes_text(bad);
  }
}

// Runs a list of a machine command and a script against one default
// instrument, through backend, on a fresh platform; returns the platform's
// log of the run and its exit status.
struct Outcome {
  int status;
  std::string console;
};

Outcome run_through(VisaBackend* backend, const std::string& list) {
  RecordingPlatform os;
  os.answer({"0"});
  Updater u(os, backend);
  const char* argv[] = {"tmflash", list.c_str()};
  int status = updater_main(u, 2, argv);
  return {status, os.log()};
}

class Trace : public ::testing::Test {
 protected:
  Trace() {
    // Binary frames: bytes from 0x80 on go through the trace too.
    std::string package_free_script =
        "___u=0\n&t$\n&e@00010000$\n&w@00010000$\n&d#00FF80C3A9$\n&x$\n";
    list = dir.write("jobs.lst", "total=2\nmcmd0=:DISP:TEXT \"\xC3\xA9t\xE9\"\npath1=" +
                                     dir.write("fw.txt", package_free_script) + "\n");
  }

  // The run against a fresh simulator, traced to trace_path.
  Outcome record() {
    RecordingPlatform clock;
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    sim::Simulator simulator(config, clock);
    std::string why;
    std::unique_ptr<VisaBackend> traced =
        trace::make_tracing_backend(sim::make_simulator_backend(simulator), trace_path, &why);
    EXPECT_NE(traced, nullptr) << why;
    return run_through(traced.get(), list);
  }

  TempDir dir;
  std::string list;
  std::string trace_path = dir.file("run.jsonl");
};

TEST_F(Trace, AReplayGivesTheRecordedRunBackByteForByte) {
  Outcome recorded = record();
  ASSERT_NE(recorded.console.find("<->Bootloader VisaRsrc="), std::string::npos) << recorded.console;
  std::string failure;
  std::unique_ptr<VisaBackend> replay =
      trace::make_replay_backend(trace_path, [&](const std::string& why) { failure = why; });
  Outcome replayed = run_through(replay.get(), list);
  EXPECT_EQ(failure, "");
  EXPECT_EQ(replayed.status, recorded.status);
  EXPECT_EQ(replayed.console, recorded.console);
  // Bytes beyond ASCII, in the machine command and the data frame.
  std::string text = read_file(trace_path);
  EXPECT_NE(text.find(R"("data":":DISP:TEXT \"\u00c3\u00a9t\u00e9\"")"), std::string::npos) << text;
}

TEST_F(Trace, AReplayStopsAtTheFirstCallItsTraceDoesNotHave) {
  record();
  std::string text = read_file(trace_path);
  size_t at = text.find("\xC3\xA9t");  // never: the trace file is ASCII
  EXPECT_EQ(at, std::string::npos);
  at = text.find(R"(\u00e9\"")");
  ASSERT_NE(at, std::string::npos);
  text.replace(at, 6, "e");
  std::string changed = dir.write("changed.jsonl", text);

  std::vector<std::string> failures;
  std::unique_ptr<VisaBackend> replay =
      trace::make_replay_backend(changed, [&](const std::string& why) { failures.push_back(why); });
  Outcome replayed = run_through(replay.get(), list);
  EXPECT_EQ(replayed.status, 1);
  ASSERT_EQ(failures.size(), 1u) << "told once; every later call fails without a word";
  EXPECT_NE(failures[0].find("stopped: call 8 (line 8) is viWrite {\"vi\":4,\"data\":\":DISP:TEXT \\\"\\u00c3\\u00a9te\\\"\"} "
                             "in the trace; tmflash made viWrite"),
            std::string::npos)
      << failures[0];
  EXPECT_NE(replayed.console.find("<12>Device is failed connected. (5)"), std::string::npos) << replayed.console;

  // A line that is no traced call, and a trace that ends early.
  for (const auto& [content, expected] : std::vector<std::pair<std::string, std::string>>{
           {"{\"n\":1}\n", "line 1 is not a traced call"},
           {"not json\n", "line 1 is not a traced call"},
           {"\n", "the trace has no call 1; tmflash made viOpenDefaultRM {}"}}) {
    failures.clear();
    std::unique_ptr<VisaBackend> bad =
        trace::make_replay_backend(dir.write("bad.jsonl", content), [&](const std::string& why) { failures.push_back(why); });
    run_through(bad.get(), list);
    ASSERT_EQ(failures.size(), 1u) << content;
    EXPECT_NE(failures[0].find(expected), std::string::npos) << failures[0];
  }
}

TEST(TraceFiles, AReplayOfAFileThatIsNotThereFailsToLoad) {
  std::unique_ptr<VisaBackend> replay = trace::make_replay_backend("/no/such/trace.jsonl");
  std::string why;
  EXPECT_EQ(replay->load(&why), nullptr);
  EXPECT_EQ(why, "replay:/no/such/trace.jsonl: cannot open the trace: No such file or directory");
  EXPECT_EQ(trace::make_replay_backend_for_option("sim:x"), nullptr);
  EXPECT_NE(trace::make_replay_backend_for_option("replay:x"), nullptr);
}

}  // namespace
