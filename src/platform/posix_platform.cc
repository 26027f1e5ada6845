#include "platform/posix_platform.h"

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// The Windows console attributes the updater uses, as ANSI sequences.
const char* ansi_for(int colour) {
  switch (colour) {
    case kColourBlue: return "\x1b[94m";
    case kColourGreen: return "\x1b[92m";
    case kColourCyan: return "\x1b[96m";
    case kColourRed: return "\x1b[91m";
    case kColourMagenta: return "\x1b[95m";
    default: return "\x1b[0m";
  }
}

// Waits for one key on the terminal on fd 0, without needing Enter.
void wait_for_key() {
  termios saved{};
  if (tcgetattr(STDIN_FILENO, &saved) != 0) return;
  termios raw = saved;
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  tcsetattr(STDIN_FILENO, TCSANOW, &raw);
  char key;
  ssize_t got = read(STDIN_FILENO, &key, 1);
  (void)got;
  tcsetattr(STDIN_FILENO, TCSANOW, &saved);
}

}  // namespace

PosixPlatform::PosixPlatform() {
  const char* no_color = getenv("NO_COLOR");
  colours_ = isatty(STDOUT_FILENO) && (no_color == nullptr || no_color[0] == '\0');
}

void PosixPlatform::print(int colour, std::string_view text) {
  bool coloured = colours_ && colour != kColourPlain;
  if (coloured) fputs(ansi_for(colour), stdout);
  fwrite(text.data(), 1, text.size(), stdout);
  if (coloured) fputs(ansi_for(kColourDefault), stdout);
  // The progress line ends in "\r" and shell commands share the terminal,
  // so what was printed must be on screen now.
  fflush(stdout);
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
  char line[256];
  if (fgets(line, sizeof line, stdin) == nullptr) return InputResult::kEnd;
  size_t len = strlen(line);
  bool whole_line = len > 0 && line[len - 1] == '\n';
  if (!whole_line && !feof(stdin)) {
    // Too long to be a number: drop the rest of the line.
    int c;
    while ((c = getchar()) != EOF && c != '\n') {
    }
    return InputResult::kNotNumber;
  }
  return parse_operator_number(std::string_view(line, len), value) ? InputResult::kNumber
                                                                   : InputResult::kNotNumber;
}
