#include "fleet/instrument_run.h"

#include <cstdlib>

#include "platform/platform.h"
#include "record/run_record.h"

namespace {

// How many console lines before a pause are kept to name its message.
constexpr size_t kRecentLines = 8;

// Console texts a child shows; operators' procedures depend on them, so they
// are stable to read.
constexpr std::string_view kJobNotices[] = {"system cmd:", "machine cmd:"};
constexpr std::string_view kFileNoticeStart = "file(";
constexpr std::string_view kFileNoticeEnd = ") updating...";
constexpr std::string_view kProgressStart = "update...";
constexpr std::string_view kHandshake[] = {"main *IDN = ", "jump bootloader", "Bootloader VisaRsrc=",
                                           "Bootloader version="};
constexpr std::string_view kUpdateOk = "Update Ok";
// The prompt the different-from warning ends with, and its first line: the
// warning is named by its lines, not by its prompt.
constexpr std::string_view kEnterPrompt = "please ENTER continue";
constexpr std::string_view kDifferentFrom = "different from";

bool is_job_notice(std::string_view line) {
  for (std::string_view n : kJobNotices) {
    if (line.starts_with(n)) return true;
  }
  return line.starts_with(kFileNoticeStart) && line.ends_with(kFileNoticeEnd);
}

bool is_handshake(std::string_view line) {
  for (std::string_view h : kHandshake) {
    if (line.starts_with(h)) return true;
  }
  return false;
}

std::string trimmed(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return std::string(s);
}

// The message shown before a pause: the last line, or the whole
// different-from warning (its first line, the two resource strings).
std::string pause_message(const std::vector<std::string>& recent) {
  size_t end = recent.size();
  if (end > 0 && recent[end - 1] == kEnterPrompt) --end;
  if (end == 0) return "";
  for (size_t i = end; i-- > 0;) {
    if (recent[i] != kDifferentFrom) continue;
    std::string text;
    for (size_t k = i; k < end; ++k) text += (k == i ? "" : " ") + recent[k];
    return text;
  }
  return recent[end - 1];
}

// A job notice: the list's next job when it is that job's notice (the
// child runs the slots in order), else a notice within the current job.
void take_notice(InstrumentRun& in, const std::string& line) {
  if (in.jobs.empty()) {
    in.job = line;
    in.progress.clear();
    return;
  }
  for (size_t k = in.next_job; k < in.jobs.size(); ++k) {
    if (in.jobs[k].notice != line) continue;
    in.job = "job " + std::to_string(in.jobs[k].slot) + " " + in.jobs[k].name;
    in.next_job = k + 1;
    in.progress.clear();
    return;
  }
}

void take_line(InstrumentRun& in, std::string_view raw) {
  std::string line = trimmed(raw);
  if (line.empty()) return;
  if (line.starts_with(trimmed(kPausePrompt))) {
    in.pauses.push_back(pause_message(in.recent));
    in.recent.clear();
    return;
  }
  if (is_job_notice(line)) {
    take_notice(in, line);
    return;
  }
  if (line.starts_with(kProgressStart) && line.ends_with('%')) {
    in.progress = line.substr(kProgressStart.size());
    return;
  }
  if (is_handshake(line)) in.reached_jump = true;
  if (line == kUpdateOk) in.said_update_ok = true;
  in.recent.push_back(line);
  if (in.recent.size() > kRecentLines) in.recent.erase(in.recent.begin());
}

}  // namespace

bool take_output(InstrumentRun& in, std::string_view text) {
  bool any = false;
  for (char c : text) {
    if (c != '\n' && c != '\r') {
      in.partial += c;
      continue;
    }
    take_line(in, in.partial);
    in.partial.clear();
    any = true;
  }
  return any;
}

void take_end(InstrumentRun& in, int status, const std::string& report_text) {
  if (!in.partial.empty()) take_line(in, in.partial);
  in.partial.clear();
  in.exit_status = status;
  in.progress.clear();
  if (status == 0 && in.said_update_ok) {
    in.state = InstrumentState::kOk;
    return;
  }
  in.state = InstrumentState::kFailed;
  RunRecord rec;
  std::string why;
  if (!report_text.empty() && parse_report(report_text, &rec, &why) && !rec.message.empty()) {
    in.message = rec.message;
    in.number = rec.number;
  } else if (!in.recent.empty()) {
    in.message = in.recent.back();
    in.number = message_number(in.message);
  }
  if (in.message.empty()) in.message = "ended with exit status " + std::to_string(status);
  if (status > 128) in.message += " (ended by signal " + std::to_string(status - 128) + ")";
}

std::string status_line(const InstrumentRun& in) {
  std::string line = in.serial + ": ";
  switch (in.state) {
    case InstrumentState::kWaiting: return line + "waiting";
    case InstrumentState::kRunning:
      line += "running";
      if (!in.job.empty()) line += ": " + in.job;
      if (!in.progress.empty()) line += " " + in.progress;
      return line;
    case InstrumentState::kOk: return line + "Update Ok";
    case InstrumentState::kFailed: return line + "failed: " + in.message;
    case InstrumentState::kStopped:
      return line + (in.reached_jump ? "stopped: may be left in the bootloader" : "stopped before its jump to the bootloader");
    case InstrumentState::kNotStarted: return line + "not started";
  }
  return line;
}

std::string change_key(const InstrumentRun& in) {
  std::string key = std::to_string(static_cast<int>(in.state)) + "|" + in.job + "|";
  if (!in.progress.empty()) key += std::to_string(atoi(in.progress.c_str()) / 10);
  return key;
}

std::string file_safe(std::string_view serial) {
  std::string name(serial);
  for (char& c : name) {
    bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                c == '-' || c == '_';
    if (!keep) c = '_';
  }
  return name;
}
