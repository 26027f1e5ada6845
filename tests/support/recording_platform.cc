#include "support/recording_platform.h"

#include <cstdio>

#include "base/text.h"

void RecordingPlatform::print(int colour, std::string_view text) { record(Event::kPrint, stdout, colour, text); }

void RecordingPlatform::print_error(int colour, std::string_view text) {
  record(Event::kErrorPrint, stderr, colour, text);
}

void RecordingPlatform::record(Event::Kind kind, FILE* echo_to, int colour, std::string_view text) {
  ++print_count_;
  if (echo) {
    fwrite(text.data(), 1, text.size(), echo_to);
    fflush(echo_to);
  }
  if (!keep_prints) return;
  // Consecutive prints in one colour to one stream are one event, the way an
  // operator reads them.
  if (!events_.empty() && events_.back().kind == kind && events_.back().colour == colour && colour != kColourPlain) {
    events_.back().text.append(text);
    return;
  }
  events_.push_back({kind, colour, std::string(text), 0});
}

void RecordingPlatform::pause() { events_.push_back({Event::kPause, kColourPlain, "", 0}); }

int RecordingPlatform::shell(const char* command) {
  events_.push_back({Event::kShell, kColourPlain, command, 0});
  return on_shell ? on_shell(command) : 0;
}

void RecordingPlatform::sleep_ms(uint32_t ms) {
  events_.push_back({Event::kSleep, kColourPlain, "", ms});
  now_ms_ += ms;
}

InputResult RecordingPlatform::read_number(int* value) {
  if (answers_.empty()) {
    events_.push_back({Event::kInput, kColourPlain, "end", 0});
    return InputResult::kEnd;
  }
  std::string line = answers_.front();
  answers_.pop_front();
  now_ms_ += answer_ms;
  events_.push_back({Event::kInput, kColourPlain, line, 0});
  return parse_operator_number(line, value) ? InputResult::kNumber : InputResult::kNotNumber;
}

void RecordingPlatform::answer(std::initializer_list<std::string> lines) {
  for (const auto& line : lines) answers_.push_back(line);
}

std::string RecordingPlatform::log() const {
  std::string out;
  for (const Event& e : events_) {
    switch (e.kind) {
      case Event::kPrint:
        out += '<';
        out += e.colour == kColourPlain ? "-" : std::to_string(e.colour);
        out += '>';
        out += escaped(e.text, false);
        break;
      case Event::kErrorPrint:
        out += "stderr<";
        out += e.colour == kColourPlain ? "-" : std::to_string(e.colour);
        out += '>';
        out += escaped(e.text, false);
        break;
      case Event::kPause: out += "pause"; break;
      case Event::kShell: out += "shell " + e.text; break;
      case Event::kSleep: out += "sleep " + std::to_string(e.ms); break;
      case Event::kInput: out += "input " + e.text; break;
    }
    out += '\n';
  }
  return out;
}

std::string RecordingPlatform::text() const {
  std::string out;
  for (const Event& e : events_) {
    if (e.kind == Event::kPrint) out += e.text;
  }
  return out;
}

std::string RecordingPlatform::screen() const {
  std::string out;
  size_t line_start = 0;
  size_t cursor = 0;
  for (char c : text()) {
    if (c == '\n') {
      out += '\n';
      line_start = cursor = out.size();
    } else if (c == '\r') {
      cursor = line_start;
    } else if (cursor < out.size()) {
      out[cursor++] = c;
    } else {
      out += c;
      cursor = out.size();
    }
  }
  return out;
}

std::string RecordingPlatform::errors() const {
  std::string out;
  for (const Event& e : events_) {
    if (e.kind == Event::kErrorPrint) out += e.text;
  }
  return out;
}

uint64_t RecordingPlatform::slept_ms() const {
  uint64_t total = 0;
  for (const Event& e : events_) {
    if (e.kind == Event::kSleep) total += e.ms;
  }
  return total;
}
