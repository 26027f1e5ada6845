// The log file of --log=FILE: appended, one time-stamped line per console
// line and per event of the run, so that one file can hold many runs.
//
//   2025-06-01T10:11:12.345+02:00 run started: tmflash 0.1.0, list demo.lst
//   2025-06-01T10:11:12.346+02:00 job 0 started: scmd echo Preparing...
//   2025-06-01T10:11:12.346+02:00 | system cmd:echo Preparing...
//
// Console lines start with "| " and are the text the console showed,
// without colour codes; control characters other than tab are written as
// \xNN. The progress line, which overwrites itself on the console, is kept
// each time its whole percentage changes, and at its end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

class RunLog {
 public:
  // now_text gives the time stamp of a line.
  explicit RunLog(std::function<std::string()> now_text) : now_text_(std::move(now_text)) {}
  ~RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Opens path for appending. False with *why (the system's reason) when it
  // cannot be opened.
  bool open(const std::string& path, std::string* why);
  bool is_open() const { return file_ != nullptr; }

  // One event line (without "| ").
  void event(std::string_view text);

  // Console text as it was printed; lines are written as they end.
  void console(std::string_view text);

  // Ends the console line begun (a prompt) with what the operator answered.
  void answer(std::string_view text);

  // Writes a console line that has not ended yet (at the end of the run).
  void flush_console();

 private:
  void write_line(std::string_view marker, std::string_view text);
  void end_console_line();
  void end_progress_line();

  std::function<std::string()> now_text_;
  FILE* file_ = nullptr;
  std::string pending_;      // console text of the line not yet ended
  int last_percent_ = -1;    // whole percentage of the last progress line written
  bool after_return_ = false;  // the last console character was "\r"
};
