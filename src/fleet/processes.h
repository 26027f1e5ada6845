// The child processes of a fleet run: one tmflash per instrument. Every
// call the fleet makes to the operating system goes through this one
// interface (start a child, collect its output and its end, stop it, the
// operator's Ctrl-C), so that the fleet's tests replace it with scripted
// children in virtual time.
#pragma once

#include <memory>
#include <string>
#include <vector>

// What one wait brought.
struct ChildEvent {
  enum Kind { kOutput, kEnded };
  Kind kind = kOutput;
  int child = -1;    // the id start() gave
  std::string text;  // kOutput: bytes the child wrote (standard output and error)
  int status = 0;    // kEnded: the exit status, or 128 + N when signal N ended it
};

class Processes {
 public:
  virtual ~Processes() = default;

  // Starts args[0] with the arguments args[1..]. Its standard output and
  // standard error both come back through wait(); its standard input is the
  // null device (nobody answers a child). Returns the child's id (>= 0); -1
  // with *why (the system's reason) when it cannot be started.
  virtual int start(const std::vector<std::string>& args, std::string* why) = 0;

  // Waits at most timeout_ms for output of a child or the end of one and
  // appends what happened to *events, in order; a child's output always comes
  // before its end. Returns at once when something had already happened, or
  // when the operator asked to stop (interrupted()).
  virtual void wait(int timeout_ms, std::vector<ChildEvent>* events) = 0;

  // Asks a running child to stop (SIGTERM); its end comes through wait().
  virtual void stop(int child) = 0;

  // The signal (SIGINT, SIGTERM) by which the operator asked the whole fleet
  // to stop; 0 while none has come.
  virtual int interrupted() = 0;

  // The width of the terminal standard output is, where the instruments'
  // lines are redrawn in place (each kept within it, so that none wraps);
  // 0 when standard output is no terminal.
  virtual int terminal_columns() = 0;
};

// The system's processes; nullptr with *why where this build has none (a
// fleet run is not available there).
std::unique_ptr<Processes> make_system_processes(std::string* why);

// The path of the running program, for starting it again as a child: the
// system's own record of it where there is one (/proc/self/exe), else argv0
// made absolute (or looked up in PATH). "" when none can be found.
std::string own_program_path(const char* argv0);
