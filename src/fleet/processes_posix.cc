// The fleet's child processes on POSIX systems: posix_spawn with one pipe
// per child for its standard output and error, poll() over the pipes, and
// SIGINT / SIGTERM caught through a pipe of their own so that a wait ends
// at once when the operator presses Ctrl-C.
#include "fleet/processes.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace {

// Bounds each poll, so that a child that has ended while something it left
// behind (a shell command's background program) still holds its pipe is
// seen ending all the same.
constexpr int kReapEveryMs = 100;
constexpr size_t kReadChunk = 4096;
constexpr int kDefaultColumns = 80;  // a terminal that does not say its width

// The write end of the signal pipe, for the handler.
volatile sig_atomic_t g_signal_pipe = -1;
volatile sig_atomic_t g_signal = 0;

void on_stop_signal(int sig) {
  int saved = errno;
  g_signal = sig;
  if (g_signal_pipe >= 0) {
    char byte = 1;
    ssize_t ignored = write(g_signal_pipe, &byte, 1);
    (void)ignored;
  }
  errno = saved;
}

struct Child {
  pid_t pid = -1;
  int out = -1;  // read end of its output pipe; -1 once closed
  bool running = true;
};

class PosixProcesses : public Processes {
 public:
  PosixProcesses() {
    if (pipe2(signal_pipe_, O_CLOEXEC | O_NONBLOCK) != 0) signal_pipe_[0] = signal_pipe_[1] = -1;
    g_signal = 0;
    g_signal_pipe = signal_pipe_[1];
    struct sigaction sa {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, &old_int_);
    sigaction(SIGTERM, &sa, &old_term_);
  }

  ~PosixProcesses() override {
    sigaction(SIGINT, &old_int_, nullptr);
    sigaction(SIGTERM, &old_term_, nullptr);
    g_signal_pipe = -1;
    for (Child& c : children_) {
      if (c.out >= 0) close(c.out);
      if (c.running) waitpid(c.pid, nullptr, 0);  // the fleet stops every child before it ends
    }
    for (int fd : signal_pipe_) {
      if (fd >= 0) close(fd);
    }
  }

  int start(const std::vector<std::string>& args, std::string* why) override {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return failed(why, "cannot make a pipe");
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    // A child must stop when the fleet stops it, even where tmflash itself
    // was started with these signals ignored (in the background of a script).
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, &attr, argv.data(), environ);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    if (rc != 0) {
      close(fds[0]);
      errno = rc;
      return failed(why, "cannot start " + args[0]);
    }
    fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
    children_.push_back(Child{pid, fds[0], true});
    return static_cast<int>(children_.size()) - 1;
  }

  void wait(int timeout_ms, std::vector<ChildEvent>* events) override {
    std::vector<pollfd> fds;
    std::vector<int> ids;
    fds.push_back(pollfd{signal_pipe_[0], POLLIN, 0});
    for (size_t i = 0; i < children_.size(); ++i) {
      if (children_[i].out < 0) continue;
      fds.push_back(pollfd{children_[i].out, POLLIN, 0});
      ids.push_back(static_cast<int>(i));
    }
    // A signal that comes before or during the poll leaves a byte in the
    // signal pipe, which ends the poll.
    int wait_ms = timeout_ms < kReapEveryMs ? timeout_ms : kReapEveryMs;
    if (wait_ms < 0) wait_ms = 0;
    if (poll(fds.data(), fds.size(), wait_ms) > 0) {
      if (fds[0].revents != 0) drain_signal_pipe();
      for (size_t k = 1; k < fds.size(); ++k) {
        if (fds[k].revents != 0) read_output(ids[k - 1], events);
      }
    }
    reap(events);
  }

  void stop(int child) override {
    if (child < 0 || child >= static_cast<int>(children_.size())) return;
    if (children_[child].running) kill(children_[child].pid, SIGTERM);
  }

  int interrupted() override { return g_signal; }

  int terminal_columns() override {
    if (isatty(STDOUT_FILENO) != 1) return 0;
    winsize ws {};
    return ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0 ? ws.ws_col : kDefaultColumns;
  }

 private:
  static int failed(std::string* why, const std::string& what) {
    *why = what + ": " + strerror(errno);
    return -1;
  }

  void drain_signal_pipe() {
    char buf[64];
    while (read(signal_pipe_[0], buf, sizeof buf) > 0) {
    }
  }

  // Reads what child i has written; closes its pipe at its end.
  void read_output(int i, std::vector<ChildEvent>* events) {
    Child& c = children_[i];
    char buf[kReadChunk];
    for (;;) {
      ssize_t n = read(c.out, buf, sizeof buf);
      if (n > 0) {
        events->push_back(ChildEvent{ChildEvent::kOutput, i, std::string(buf, static_cast<size_t>(n)), 0});
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
        close(c.out);
        c.out = -1;
      }
      return;
    }
  }

  // Children that have ended: what is left in their pipe, then their end.
  void reap(std::vector<ChildEvent>* events) {
    for (size_t i = 0; i < children_.size(); ++i) {
      Child& c = children_[i];
      if (!c.running) continue;
      int status = 0;
      if (waitpid(c.pid, &status, WNOHANG) != c.pid) continue;
      c.running = false;
      if (c.out >= 0) {
        read_output(static_cast<int>(i), events);
        // Whatever still holds the pipe (a program a shell command left
        // running) is not the child: its output ends here.
        if (c.out >= 0) close(c.out);
        c.out = -1;
      }
      int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      events->push_back(ChildEvent{ChildEvent::kEnded, static_cast<int>(i), {}, code});
    }
  }

  std::vector<Child> children_;
  int signal_pipe_[2] = {-1, -1};
  struct sigaction old_int_ {};
  struct sigaction old_term_ {};
};

bool is_executable(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::unique_ptr<Processes> make_system_processes(std::string* why) {
  (void)why;
  return std::make_unique<PosixProcesses>();
}

std::string own_program_path(const char* argv0) {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) return std::string(buf, static_cast<size_t>(n));
  if (argv0 == nullptr || *argv0 == '\0') return "";
  if (strchr(argv0, '/') != nullptr) {
    return realpath(argv0, buf) != nullptr ? std::string(buf) : std::string();
  }
  const char* path = getenv("PATH");
  std::string dirs = path != nullptr ? path : "";
  for (size_t start = 0; start <= dirs.size();) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    std::string candidate = (dir.empty() ? "." : dir) + "/" + argv0;
    if (is_executable(candidate) && realpath(candidate.c_str(), buf) != nullptr) return buf;
    start = end + 1;
  }
  return "";
}
