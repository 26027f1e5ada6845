#include "platform/posix_platform.h"

#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <thread>

#include "platform/system_platform.h"

namespace {

// The Windows console attributes the updater uses, as ANSI sequences.
const char* ansi_for(int colour) {
  switch (colour) {
    case kColourBlue: return "\x1b[94m";
    case kColourGreen: return "\x1b[92m";
    case kColourCyan: return "\x1b[96m";
    case kColourRed: return "\x1b[91m";
    case kColourMagenta: return "\x1b[95m";
    case kColourYellow: return "\x1b[93m";
    default: return "\x1b[0m";
  }
}

// The signals that end the process while the pause holds the terminal in
// its one-key mode: Ctrl-C, a polite stop, a closed terminal window.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The terminal settings to put back when such a signal comes. Written only
// before the handlers are installed and read only by them.
termios saved_terminal;

// Puts the terminal back, then ends the process as the signal would have
// without the pause: the default action, raised again. Only
// async-signal-safe calls.
extern "C" void restore_terminal_and_stop(int signal_number) {
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
  signal(signal_number, SIG_DFL);
  raise(signal_number);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
}

// Installs restore_terminal_and_stop for the stop signals while it lives,
// except for a signal the process was started to ignore (nohup): that one
// stays ignored. The previous actions come back at the end.
class StopSignalsRestoreTerminal {
 public:
  StopSignalsRestoreTerminal() {
    struct sigaction action {};
    action.sa_handler = restore_terminal_and_stop;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kStopSignals); ++i) {
      sigaction(kStopSignals[i], nullptr, &previous_[i]);
      if (previous_[i].sa_handler != SIG_IGN) sigaction(kStopSignals[i], &action, nullptr);
    }
  }
  ~StopSignalsRestoreTerminal() {
    for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &previous_[i], nullptr);
  }
  StopSignalsRestoreTerminal(const StopSignalsRestoreTerminal&) = delete;
  StopSignalsRestoreTerminal& operator=(const StopSignalsRestoreTerminal&) = delete;

 private:
  struct sigaction previous_[std::size(kStopSignals)] {};
};

// Waits for one key on the terminal on fd 0, without needing Enter.
void wait_for_key() {
  if (tcgetattr(STDIN_FILENO, &saved_terminal) != 0) return;
  StopSignalsRestoreTerminal restore_on_stop;
  termios raw = saved_terminal;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  char key;
  ssize_t got = read(STDIN_FILENO, &key, 1);
  (void)got;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved_terminal);
}

// Colours on the stream fd when it is a terminal and NO_COLOR is not set.
bool colours_for(int fd) {
  const char* no_color = getenv("NO_COLOR");
  return isatty(fd) && (no_color == nullptr || no_color[0] == '\0');
}

}  // namespace

PosixPlatform::PosixPlatform()
    : colours_(colours_for(STDOUT_FILENO)), error_colours_(colours_for(STDERR_FILENO)) {}

void PosixPlatform::print(int colour, std::string_view text) {
  bool coloured = colours_ && colour != kColourPlain;
  if (coloured) fputs(ansi_for(colour), stdout);
  fwrite(text.data(), 1, text.size(), stdout);
  if (coloured) fputs(ansi_for(kColourDefault), stdout);
  // The progress line ends in "\r" and shell commands share the terminal,
  // so what was printed must be on screen now.
  fflush(stdout);
}

void PosixPlatform::print_error(int colour, std::string_view text) {
  fflush(stdout);
  bool coloured = error_colours_ && colour != kColourPlain;
  if (coloured) fputs(ansi_for(colour), stderr);
  fwrite(text.data(), 1, text.size(), stderr);
  if (coloured) fputs(ansi_for(kColourDefault), stderr);
  fflush(stderr);
}

void PosixPlatform::pause() {
  fputs(kPausePrompt, stdout);
  fflush(stdout);
  if (isatty(STDIN_FILENO)) wait_for_key();
  fputs("\n", stdout);
  fflush(stdout);
}

int PosixPlatform::shell(const char* command) {
  fflush(stdout);
  return std::system(command);
}

void PosixPlatform::sleep_ms(uint32_t ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

InputResult PosixPlatform::read_number(int* value) {
  fflush(stdout);
  return read_operator_answer(stdin, value);
}

Platform& system_platform() {
  static PosixPlatform platform;
  return platform;
}
