#include "record/run_log.h"

#include <cerrno>
#include <cstring>

#include "platform/native.h"

namespace {

constexpr std::string_view kProgressPrefix = "update...";

// text with control characters other than tab as \xNN: one line of the log
// stays one line, and no escape sequence reaches a terminal that shows it.
std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    unsigned char b = static_cast<unsigned char>(c);
    if ((b < 0x20 && c != '\t') || b == 0x7F) {
      char hex[8];
      snprintf(hex, sizeof hex, "\\x%02X", b);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// The whole percentage of a progress line ("update...14.29%"), or -1.
int whole_percent(std::string_view line) {
  if (!line.starts_with(kProgressPrefix)) return -1;
  int percent = 0;
  size_t i = kProgressPrefix.size();
  if (i >= line.size() || line[i] < '0' || line[i] > '9') return -1;
  for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) percent = percent * 10 + (line[i] - '0');
  return percent;
}

}  // namespace

RunLog::~RunLog() {
  if (file_ != nullptr) fclose(file_);
}

bool RunLog::open(const std::string& path, std::string* why) {
  file_ = open_file(path.c_str(), "ab");
  if (file_ == nullptr) {
    *why = path + ": " + strerror(errno);
    return false;
  }
  return true;
}

void RunLog::write_line(std::string_view marker, std::string_view text) {
  if (file_ == nullptr) return;
  std::string line = now_text_() + " " + std::string(marker) + printable(text) + "\n";
  fwrite(line.data(), 1, line.size(), file_);
  // Each line reaches the file as it happens: a run that is killed leaves
  // everything up to that moment.
  fflush(file_);
}

void RunLog::event(std::string_view text) { write_line("", text); }

void RunLog::end_console_line() {
  write_line("| ", pending_);
  pending_.clear();
  last_percent_ = -1;
}

void RunLog::end_progress_line() {
  int percent = whole_percent(pending_);
  if (percent < 0) {
    end_console_line();
    return;
  }
  if (percent != last_percent_ || percent >= 100) write_line("| ", pending_);
  last_percent_ = percent;
  pending_.clear();
}

void RunLog::console(std::string_view text) {
  for (char c : text) {
    bool after_return = after_return_;
    after_return_ = c == '\r';
    if (c == '\n') {
      // A line end right after a progress line only moves the console to
      // the next line: the progress line is written already.
      if (!(after_return && pending_.empty())) end_console_line();
    } else if (c == '\r') {
      end_progress_line();
    } else {
      pending_ += c;
    }
  }
}

void RunLog::answer(std::string_view text) {
  after_return_ = false;
  pending_ += text;
  end_console_line();
}

void RunLog::flush_console() {
  if (!pending_.empty()) end_console_line();
}
