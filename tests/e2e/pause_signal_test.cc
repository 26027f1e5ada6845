// The operator pause on a real terminal: the built program runs on a
// pseudo-terminal of its own, waits for a key with echo and line mode off,
// and is stopped there by Ctrl-C, SIGTERM or a hang-up. The terminal must
// come back as it was, and the process must end as the signal ends it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
// Generous: CI machines run these beside sanitizer builds; a run that works
// ends in well under a second, so only a failure waits this long.
constexpr auto kPatience = std::chrono::seconds(30);

// The program on the slave side of a new pseudo-terminal, which becomes its
// controlling terminal, so that Ctrl-C typed on it sends SIGINT. The test
// keeps the slave open too, to read its settings after the program ended.
class OnTerminal {
 public:
  explicit OnTerminal(const std::string& list) {
    if (openpty(&master_, &slave_, nullptr, nullptr, nullptr) != 0) return;
    tcgetattr(slave_, &initial_);
    pid_ = fork();
    if (pid_ == 0) {
      setsid();
      ioctl(slave_, TIOCSCTTY, 0);
      dup2(slave_, 0);
      dup2(slave_, 1);
      dup2(slave_, 2);
      close(master_);
      close(slave_);
      execl(TMFLASH_BINARY, TMFLASH_BINARY, list.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~OnTerminal() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
    if (slave_ >= 0) close(slave_);
  }

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  int master() const { return master_; }

  // Reads what the program shows until text appears; false after kPatience.
  bool wait_for_text(const std::string& text) {
    auto until = Clock::now() + kPatience;
    while (seen_.find(text) == std::string::npos) {
      if (Clock::now() > until || !read_some(100)) return false;
    }
    return true;
  }

  // Waits until the terminal is in the pause's mode: line mode off.
  bool wait_for_key_mode() {
    auto until = Clock::now() + kPatience;
    termios now{};
    while (tcgetattr(slave_, &now) == 0 && (now.c_lflag & ICANON) != 0) {
      if (Clock::now() > until) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  // Waits for the program to end, draining what it still shows.
  int wait_for_end() {
    int status = 0;
    auto until = Clock::now() + kPatience;
    while (waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > until) return -1;
      read_some(10);
    }
    reaped_ = true;
    // What it printed just before it ended may still wait in the terminal.
    while (read_within(50) > 0) {
    }
    return status;
  }

  const termios& initial() const { return initial_; }
  termios current() const {
    termios t{};
    tcgetattr(slave_, &t);
    return t;
  }
  const std::string& seen() const { return seen_; }

 private:
  // Reads what arrives within timeout_ms: the number of bytes, 0 when
  // nothing came, -1 when the terminal has ended.
  ssize_t read_within(int timeout_ms) {
    pollfd p{master_, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return 0;
    char buffer[512];
    ssize_t n = read(master_, buffer, sizeof buffer);
    if (n <= 0) return -1;
    seen_.append(buffer, static_cast<size_t>(n));
    return n;
  }
  bool read_some(int timeout_ms) { return read_within(timeout_ms) >= 0; }

  int master_ = -1;
  int slave_ = -1;
  pid_t pid_ = -1;
  bool reaped_ = false;
  termios initial_{};
  std::string seen_;
};

// The program in the pause after its one job, the terminal in one-key mode.
bool pausing(OnTerminal& run) {
  if (!run.started()) return false;
  EXPECT_TRUE(run.wait_for_text("Press any key to continue . . . ")) << run.seen();
  EXPECT_TRUE(run.wait_for_key_mode());
  return (run.current().c_lflag & (ICANON | ECHO)) == 0;
}

const char kPausingList[] = "total=1\nlist_pause=1\nscmd0=true\n";

struct StopCase {
  const char* name;
  int signal;
  bool typed;  // Ctrl-C typed on the terminal, else the signal sent by kill
};

void PrintTo(const StopCase& c, std::ostream* out) { *out << c.name; }

class PauseSignal : public ::testing::TestWithParam<StopCase> {};

TEST_P(PauseSignal, RestoresTheTerminalAndEndsAsTheSignalWould) {
  const StopCase& c = GetParam();
  TempDir dir;
  OnTerminal run(dir.write("pause.lst", kPausingList));
  ASSERT_TRUE(pausing(run));

  if (c.typed) {
    ASSERT_EQ(write(run.master(), "\x03", 1), 1);
  } else {
    kill(run.pid(), c.signal);
  }
  int status = run.wait_for_end();
  ASSERT_NE(status, -1) << "the program did not end: " << run.seen();
  EXPECT_TRUE(WIFSIGNALED(status)) << "status " << status;
  if (WIFSIGNALED(status)) {
    EXPECT_EQ(WTERMSIG(status), c.signal);
  }
  EXPECT_EQ(run.current().c_lflag, run.initial().c_lflag) << "echo or line mode left off";
  EXPECT_EQ(run.seen().find("Update Ok"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Stops, PauseSignal,
    ::testing::Values(StopCase{"CtrlC", SIGINT, true}, StopCase{"Term", SIGTERM, false},
                      StopCase{"HangUp", SIGHUP, false}),
    [](const ::testing::TestParamInfo<StopCase>& info) { return std::string(info.param.name); });

// A key ends the pause as before, and the run goes on to its end.
TEST(PauseKey, KeyEndsThePauseAndLeavesTheTerminalAsItWas) {
  TempDir dir;
  OnTerminal run(dir.write("pause.lst", kPausingList));
  ASSERT_TRUE(pausing(run));
  ASSERT_EQ(write(run.master(), "x", 1), 1);
  int status = run.wait_for_end();
  ASSERT_TRUE(WIFEXITED(status)) << run.seen();
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_NE(run.seen().find("Update Ok"), std::string::npos) << run.seen();
  EXPECT_EQ(run.current().c_lflag, run.initial().c_lflag);
}

}  // namespace
