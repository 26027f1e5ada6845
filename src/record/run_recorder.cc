#include "record/run_recorder.h"

#include <cstdio>

#include "link/instrument_choice.h"
#include "platform/wall_clock.h"

namespace {

// reply without the line end it came with.
std::string without_line_end(std::string_view reply) {
  while (!reply.empty() && (reply.back() == '\n' || reply.back() == '\r')) reply.remove_suffix(1);
  return std::string(reply);
}

std::string readings_text(const std::vector<VersionReading>& readings) {
  std::string text;
  for (const VersionReading& r : readings) text += (text.empty() ? "" : ", ") + r.query + " = " + r.reply;
  return text.empty() ? "nothing" : text;
}

}  // namespace

RunRecorder::RunRecorder(Clock& clock, std::function<int64_t()> wall_ms)
    : clock_(clock), wall_ms_(std::move(wall_ms)), log_([this] { return now_text(); }) {}

std::string RunRecorder::now_text() const { return local_time_text(wall_ms_()); }

bool RunRecorder::open_log(const std::string& path, std::string* why) { return log_.open(path, why); }

bool RunRecorder::open_report(const std::string& path, std::string* why) {
  report_path_ = path;
  rec_.result = "running";
  return write_report(why);
}

bool RunRecorder::write_report(std::string* why) {
  if (report_path_.empty()) return true;
  return replace_file(report_path_, report_json(rec_), why);
}

void RunRecorder::run_started(const std::string& version, const std::vector<std::string>& command_line,
                              const std::string& list_file) {
  rec_.tmflash_version = version;
  rec_.command_line = command_line;
  rec_.list_file = list_file;
  rec_.started = now_text();
  rec_.result = "running";
  run_start_ms_ = clock_.now_ms();
  std::string arguments;
  for (const std::string& a : command_line) arguments += " " + a;
  log_.event("run started: tmflash " + version + ", arguments:" + arguments);
  std::string ignored;
  write_report(&ignored);  // its place was checked by open_report
}

JobRecord* RunRecorder::current_job() {
  return in_job_ && !rec_.jobs.empty() ? &rec_.jobs.back() : nullptr;
}

void RunRecorder::note(const std::string& text) {
  log_.event("note: " + text);
  if (JobRecord* job = current_job()) {
    job->notes.push_back(text);
  } else {
    rec_.notes.push_back(text);
  }
}

void RunRecorder::console_print(int colour, std::string_view text) {
  log_.console(text);
  if (colour != kColourRed) return;
  for (char c : text) {
    if (c != '\n') {
      red_pending_ += c;
      continue;
    }
    red_lines_.push_back(red_pending_);
    red_pending_.clear();
  }
}

// The platform shows the pause's prompt itself, past the console's prints.
void RunRecorder::console_pause() {
  log_.console(kPausePrompt);
  log_.console("\n");
}

void RunRecorder::console_shell(const char* command, int status) {
  (void)command;  // the console has shown it ("system cmd:...")
  log_.event("shell command ended, status " + std::to_string(status));
}

void RunRecorder::console_input(InputResult result, int value) {
  switch (result) {
    case InputResult::kNumber: log_.answer(std::to_string(value)); break;
    case InputResult::kNotNumber: log_.answer("(not a number)"); break;
    case InputResult::kEnd: log_.answer("(input ended)"); break;
  }
}

void RunRecorder::job_started(int slot, JobKind kind, const char* argument) {
  JobRecord job;
  job.slot = slot;
  job.kind = job_kind_key(kind);
  job.argument = argument;
  job.started = now_text();
  job.result = "running";
  rec_.jobs.push_back(std::move(job));
  in_job_ = true;
  red_lines_.clear();
  job_start_ms_ = clock_.now_ms();
  log_.event("job " + std::to_string(slot) + " started: " + rec_.jobs.back().kind + " " + argument);
}

void RunRecorder::job_finished(int slot, int result) {
  JobRecord* job = current_job();
  if (job == nullptr) return;
  job->duration_ms = static_cast<int64_t>(clock_.now_ms() - job_start_ms_);
  job->result = result == 0 ? "ok" : "failed";
  if (result != 0) take_failure(&job->message, &job->number);
  std::string line = "job " + std::to_string(slot) + " " + job->result + ": " + job->kind + " " +
                     job->argument + ", " + std::to_string(job->duration_ms) + " ms";
  if (result != 0) line += ", message " + job->message + (job->number.empty() ? "" : " [" + job->number + "]");
  log_.event(line);
  in_job_ = false;
  red_lines_.clear();
}

void RunRecorder::take_failure(std::string* message, std::string* number) const {
  std::vector<std::string> lines = red_lines_;
  if (!red_pending_.empty()) lines.push_back(red_pending_);
  for (const std::string& line : lines) {
    std::string n = message_number(line);
    if (!n.empty()) {
      *message = line;
      *number = n;
      return;
    }
  }
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (!it->empty()) {
      *message = *it;
      return;
    }
  }
}

void RunRecorder::instrument_chosen(const char* rsrc, bool after_jump) {
  if (after_jump) jumped_ = true;
  InstrumentRecord& inst = rec_.instrument;
  if (inst.resource.empty()) {
    inst.resource = rsrc;
    inst.serial = std::string(serial_of(rsrc));
  }
  for (const std::string& seen : inst.resources) {
    if (seen == rsrc) return;
  }
  inst.resources.push_back(rsrc);
  std::string serial(serial_of(rsrc));
  log_.event(std::string("instrument: ") + rsrc + (serial.empty() ? "" : ", serial " + serial));
}

void RunRecorder::version_read(const char* query, const char* reply) {
  VersionReading reading{query, without_line_end(reply)};
  log_.event(std::string("read ") + (jumped_ ? "after the jump: " : "before the jump: ") + reading.query +
             " = " + reading.reply);
  (jumped_ ? rec_.instrument.versions_after : rec_.instrument.versions_before).push_back(std::move(reading));
}

int RunRecorder::run_finished(int exit_status, std::string* why) {
  log_.flush_console();
  // A run stopped inside a job (a replay that left its trace) ends it.
  if (in_job_) job_finished(rec_.jobs.back().slot, 1);
  rec_.ended = now_text();
  rec_.duration_ms = static_cast<int64_t>(clock_.now_ms() - run_start_ms_);
  rec_.exit_status = exit_status;
  rec_.result = exit_status == 0 ? "ok" : "failed";
  if (exit_status != 0) {
    bool job_failed = !rec_.jobs.empty() && rec_.jobs.back().result == "failed";
    if (job_failed) {
      rec_.message = rec_.jobs.back().message;
      rec_.number = rec_.jobs.back().number;
    } else {
      take_failure(&rec_.message, &rec_.number);
    }
  }
  const InstrumentRecord& inst = rec_.instrument;
  if (!inst.resource.empty()) {
    log_.event("instrument " + inst.resource + ", serial " + inst.serial + "; read before the jump: " +
               readings_text(inst.versions_before) + "; after: " + readings_text(inst.versions_after));
  }
  std::string end = "run ended: " + rec_.result + ", exit status " + std::to_string(exit_status) + ", " +
                    std::to_string(rec_.duration_ms) + " ms";
  if (!rec_.message.empty()) end += ", message " + rec_.message;
  log_.event(end);
  if (!write_report(why)) return 1;
  return exit_status;
}
