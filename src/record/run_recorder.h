// The recorder of a run: watches the console (through the console tee), the
// job runner and the instrument link, keeps the run's record, writes the
// log as the run goes (--log) and the report at its start and end
// (--report). It needs no change to the job code: a job's failure is the
// numbered red message the console showed during it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "driver/run_observer.h"
#include "link/link_observer.h"
#include "platform/clock.h"
#include "record/console_tee.h"
#include "record/run_log.h"
#include "record/run_record.h"

class RunRecorder : public ConsoleSink, public RunObserver, public LinkObserver {
 public:
  // clock times the jobs and the run; wall_ms gives the wall-clock time of
  // the time stamps (ms since 1970).
  RunRecorder(Clock& clock, std::function<int64_t()> wall_ms);

  // Appends the log to path. False with *why when it cannot be opened.
  bool open_log(const std::string& path, std::string* why);
  // Writes the report to path at the start (result "running") and at the
  // end. False with *why when it cannot be written.
  bool open_report(const std::string& path, std::string* why);

  // The run begins: the program's version, its arguments (after its name)
  // and the list file ("" when none was given).
  void run_started(const std::string& version, const std::vector<std::string>& command_line,
                   const std::string& list_file);

  // The run ended with exit_status. Writes the log's last lines and the
  // report. Returns the exit status to use: 1 when the report could not be
  // written (a manufacturing system must not take a run without its report
  // as done), exit_status otherwise; *why says what failed.
  int run_finished(int exit_status, std::string* why);

  // A note on the job that runs now (or on the run between jobs): in the
  // log, and in the job's notes in the report.
  void note(const std::string& text) override;

  const RunRecord& record() const { return rec_; }

  // ConsoleSink
  void console_print(int colour, std::string_view text) override;
  void console_pause() override;
  void console_shell(const char* command, int status) override;
  void console_input(InputResult result, int value) override;

  // RunObserver
  void job_started(int slot, JobKind kind, const char* argument) override;
  void job_finished(int slot, int result) override;

  // LinkObserver
  void instrument_chosen(const char* rsrc, bool after_jump) override;
  void version_read(const char* query, const char* reply) override;

 private:
  std::string now_text() const;
  JobRecord* current_job();
  // The failure a message names: the first numbered red line since the job
  // (or the run) began, else the last red line.
  void take_failure(std::string* message, std::string* number) const;
  bool write_report(std::string* why);

  Clock& clock_;
  std::function<int64_t()> wall_ms_;
  RunLog log_;
  std::string report_path_;
  RunRecord rec_;
  uint64_t run_start_ms_ = 0;
  uint64_t job_start_ms_ = 0;
  bool in_job_ = false;
  bool jumped_ = false;                 // a reconnect after a jump has happened
  std::string red_pending_;             // red text of a line not yet ended
  std::vector<std::string> red_lines_;  // red lines since the job (or the run) began
};
