// What the fuzz targets share: a scratch directory for the files the updater
// opens by name, and a bench that wires an Updater to simulated instruments
// on a recording platform, the way the end-to-end tests do.
//
// Two rules keep every run finite and every finding reproducible:
// - the operator's answers are a fixed, short queue, so the instrument list
//   cannot be asked for ever (the input ends, as on a closed pipe);
// - every call the updater makes to the platform or the instrument costs a
//   step, and a run that takes more than kMaxSteps steps is reported as
//   runaway and aborts. An input that makes the updater loop therefore
//   fails fast, in the sanitizer build and in the regression test alike.
//
// TMFLASH_FUZZ_ECHO=1 in the environment shows what the operator would see.
//
// Header-only, so that each target stays one source file that both the
// libFuzzer build and the regression test compile.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "driver/check.h"
#include "driver/runner.h"
#include "driver/updater.h"
#include "support/recording_platform.h"
#include "visa/sim/sim_backend.h"
#include "visa/sim/simulator.h"

namespace fuzz {

// More than the longest honest run of any target needs (a package of a few
// kilobytes streamed one byte per data command); a loop without an end
// reaches it in a second or two, even under the sanitizers.
constexpr uint64_t kMaxSteps = 300000;

// Answers the operator gives, each "0": enough for a first choice, the
// "Search again" of a reconnect and a few repeats, then the input ends.
constexpr int kOperatorAnswers = 6;

// Virtual time one operator answer takes, so that an instrument can finish
// its reboot while the operator reads the list.
constexpr uint32_t kAnswerMs = 1000;

[[noreturn]] inline void runaway(const char* what) {
  fprintf(stderr, "fuzz: runaway run: %s (more than %llu steps)\n", what,
          static_cast<unsigned long long>(kMaxSteps));
  abort();
}

// A directory of this process for the files a target writes; removed at exit.
inline const std::string& scratch_dir() {
  static const std::string dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "tmflash-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      perror("fuzz: mkdtemp");
      abort();
    }
    static std::string to_remove;
    to_remove = pattern;
    atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(to_remove, ignored);
    });
    return pattern;
  }();
  return dir;
}

// Writes bytes to name in the scratch directory; returns its path.
inline std::string write_scratch(std::string_view name, std::string_view bytes) {
  std::string path = scratch_dir() + "/" + std::string(name);
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) {
    perror("fuzz: cannot write a scratch file");
    abort();
  }
  fclose(f);
  return path;
}

// The recording platform with a step budget; prints are counted, not kept.
class StepPlatform : public RecordingPlatform {
 public:
  explicit StepPlatform(int answers = kOperatorAnswers) {
    keep_prints = false;
    echo = getenv("TMFLASH_FUZZ_ECHO") != nullptr;  // to watch a case run
    answer_ms = kAnswerMs;
    for (int i = 0; i < answers; ++i) answer("0");
  }
  void step() {
    if (++steps_ > kMaxSteps) runaway("platform and instrument calls");
  }
  void print(int colour, std::string_view text) override {
    step();
    RecordingPlatform::print(colour, text);
  }
  void print_error(int colour, std::string_view text) override {
    step();
    RecordingPlatform::print_error(colour, text);
  }
  void pause() override {
    step();
    RecordingPlatform::pause();
  }
  int shell(const char* command) override {
    step();
    return RecordingPlatform::shell(command);
  }
  void sleep_ms(uint32_t ms) override {
    step();
    RecordingPlatform::sleep_ms(ms);
  }
  InputResult read_number(int* value) override {
    step();
    return RecordingPlatform::read_number(value);
  }
  uint64_t steps() const { return steps_; }

 private:
  uint64_t steps_ = 0;
};

// One instrument under the test suite's resource strings, whose system
// information suits the demo package. Starting in its
// bootloader skips the jump; starting in main firmware makes it reboot for
// reboot_ms, which a script's jump delay or the operator's answers outlast.
inline sim::InstrumentConfig instrument(bool start_in_bootloader, bool other_boot_rsrc,
                                        uint32_t reboot_ms = 100) {
  sim::InstrumentConfig c;
  c.main_rsrc = "USB0::0x1234::0x5678::SIM0001::INSTR";
  if (other_boot_rsrc) c.boot_rsrc = "USB0::0x1234::0x5679::SIM0001::INSTR";
  c.start = start_in_bootloader ? sim::StartState::kBootloader : sim::StartState::kMain;
  c.reboot_ms = reboot_ms;
  c.syst_info = "1#main#2.10#HW3,2#fpga#2.01#HW3,-1#TM1000#\n";  // fits fuzz_samples.h's package
  return c;
}

// An Updater over simulated instruments. Every write that reaches an
// instrument costs a step too; a target may add its own reply hook through
// on_reply.
struct Bench {
  // operator_answers "0"s are queued; a target may queue its own instead.
  explicit Bench(sim::SimConfig config, int operator_answers = kOperatorAnswers)
      : os(operator_answers), u(os) {
    config.transcript_path.clear();  // a run never writes files of its own
    sim = std::make_unique<sim::Simulator>(std::move(config), os);
    sim->set_reply_hook([this](const sim::ReplyContext& ctx, std::string* reply) {
      os.step();
      if (on_reply) on_reply(ctx, reply);
    });
    backend = sim::make_simulator_backend(*sim);
    u.backend = backend.get();
  }

  // The whole run from a list file with the given text, after --check of
  // the same files (which must end, print only and give 0 or 1).
  int run_list(std::string_view list_text) {
    std::string list = write_scratch("update.lst", list_text);
    StepPlatform checking(0);
    int checked = check_list(checking, list.c_str());
    if (checked != 0 && checked != 1) {
      fprintf(stderr, "fuzz: --check gave %d\n", checked);
      abort();
    }
    if (!checking.events().empty()) {  // prints are not kept: anything else ran, waited or asked
      fprintf(stderr, "fuzz: --check did more than print:\n%s", checking.log().c_str());
      abort();
    }
    const char* argv[] = {"tmflash", list.c_str()};
    return updater_main(u, 2, argv);
  }

  // What must hold after any run: an exit status of 0 or 1, and no VISA
  // session, find list or resource manager left open.
  void check_after_run(int status) {
    if (status != 0 && status != 1) {
      fprintf(stderr, "fuzz: exit status %d\n", status);
      abort();
    }
    if (sim->open_handles() != 0) {
      fprintf(stderr, "fuzz: %zu VISA handle(s) left open after the run\n", sim->open_handles());
      abort();
    }
  }

  StepPlatform os;
  Updater u;
  std::unique_ptr<sim::Simulator> sim;
  std::unique_ptr<VisaBackend> backend;
  sim::ReplyHook on_reply;
};

// Runs an update script as the one job of a list file against one
// instrument:
//   setup bit 0   the instrument starts in its bootloader (else main firmware)
//         bit 1   its bootloader enumerates under another resource string
//         bit 2   its reboot takes 5000 ms (else 100 ms)
inline void run_script(std::string_view script_text, uint8_t setup) {
  std::string script = write_scratch("script.txt", script_text);
  sim::SimConfig config;
  config.instruments.push_back(instrument(setup & 1, setup & 2, setup & 4 ? 5000 : 100));
  Bench bench(std::move(config));
  bench.check_after_run(bench.run_list("total=1\npath0=" + script + "\n"));
}

// Splits fuzz input into pieces: a piece is one length byte and that many
// bytes (cut at the end of the input).
class Pieces {
 public:
  Pieces(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool empty() const { return at_ >= size_; }
  uint8_t byte(uint8_t otherwise = 0) { return empty() ? otherwise : data_[at_++]; }
  std::string piece() {
    size_t n = byte();
    if (n > size_ - at_) n = size_ - at_;
    std::string out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }
  // Puts the last byte read back.
  void unread() {
    if (at_ > 0) --at_;
  }
  std::string_view rest() {
    std::string_view out(reinterpret_cast<const char*>(data_ + at_), size_ - at_);
    at_ = size_;
    return out;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

}  // namespace fuzz
