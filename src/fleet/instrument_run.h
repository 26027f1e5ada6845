// One instrument of a fleet run, as its child tmflash shows it: the state
// of its run, the job it is on and its progress, read from the child's
// console text (the notices and the progress line operators know), and how
// it ended. The line the operator sees for it is made here, so that it stays
// plain and stable:
//
//   SIM0001: waiting
//   SIM0001: running: job 2 pt firmware.pkg 42.86%
//   SIM0001: Update Ok
//   SIM0004: failed: Corrupted Update File. (10-5)
//   SIM0003: stopped: may be left in the bootloader
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A job of the list file as a child announces it: its slot, its key and
// argument ("pt firmware.pkg") and the notice the child prints when it
// starts it ("file(firmware.pkg) updating...").
struct FleetJob {
  int slot = 0;
  std::string name;    // "pt firmware.pkg"
  std::string notice;  // without its line end
};

enum class InstrumentState {
  kWaiting,     // not started yet (-j)
  kRunning,
  kOk,          // the child ended "Update Ok", exit status 0
  kFailed,      // the child ended otherwise
  kStopped,     // stopped by the operator's Ctrl-C while it ran
  kNotStarted,  // the fleet was stopped before its turn
};

struct InstrumentRun {
  std::string resource;  // as the fleet's search found it
  std::string serial;
  std::string log_path;     // the child's --log ("" when none)
  std::string report_path;  // the child's --report
  std::string trace_path;   // the child's --trace ("" when none)

  InstrumentState state = InstrumentState::kWaiting;
  int child = -1;            // the Processes id while it runs
  // The list's jobs in slot order; the child's notices are matched against
  // the next of them, so that a package's own notices ("machine cmd:" of a
  // command section) do not count as jobs. Empty: every notice is a job.
  std::vector<FleetJob> jobs;
  size_t next_job = 0;
  std::string job;           // the job it is on ("job 2 pt fw.pkg", or the notice)
  std::string progress;      // the last progress ("42.86%"); "" outside a section
  bool reached_jump = false; // the child began a bootloader handshake
  bool said_update_ok = false;
  // The message the child showed before each operator pause it did not wait
  // for (children never wait).
  std::vector<std::string> pauses;
  std::string message;  // failed: the message that names the failure
  std::string number;   // its number ("10-5"); "" for none
  int exit_status = -1;
  uint64_t started_ms = 0;
  uint64_t ended_ms = 0;

  std::string partial;              // output of a line not yet ended
  std::vector<std::string> recent;  // the last console lines that are not notices
};

// Feeds bytes of the child's output. Returns true when the instrument's
// line (status_line) may have changed.
bool take_output(InstrumentRun& in, std::string_view text);

// The child ended with exit status; report_text is its report ("" when it
// wrote none). Sets the state, and the message and number of a failure.
void take_end(InstrumentRun& in, int status, const std::string& report_text);

// The operator's line for the instrument (without a line end).
std::string status_line(const InstrumentRun& in);

// What sets the piped output's lines apart: the state, the job and the
// progress in steps of ten percent. A line is printed when it changes.
std::string change_key(const InstrumentRun& in);

// "SIM0001" made safe as part of a file name (characters other than
// letters, digits, '.', '-' and '_' become '_').
std::string file_safe(std::string_view serial);
