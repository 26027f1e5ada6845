// A platform for tests and benchmarks: records every print with its colour,
// every pause, shell command, sleep and operator answer, in order; sleeps
// advance a virtual clock instead of waiting, and the operator's answers come
// from a script. It is also the Clock of the simulated instruments, so that
// both sides of a test share one virtual time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/platform.h"

class RecordingPlatform : public Platform, public Clock {
 public:
  struct Event {
    enum Kind { kPrint, kErrorPrint, kPause, kShell, kSleep, kInput };
    Kind kind;
    int colour = kColourPlain;  // kPrint, kErrorPrint
    std::string text;           // kPrint, kErrorPrint: the text; kShell: the command; kInput: the line read
    uint32_t ms = 0;            // kSleep
  };

  // Platform
  void print(int colour, std::string_view text) override;
  void print_error(int colour, std::string_view text) override;
  void pause() override;
  int shell(const char* command) override;
  void sleep_ms(uint32_t ms) override;
  InputResult read_number(int* value) override;

  // Clock: the simulated instruments' waits move time without being recorded
  // as sleeps of the updater.
  uint64_t now_ms() override { return now_ms_; }
  void wait_ms(uint32_t ms) override { now_ms_ += ms; }

  // Queues lines the operator will type, one per answer; when they run out,
  // the input has ended.
  void answer(std::initializer_list<std::string> lines);
  void answer(const std::string& line) { answers_.push_back(line); }

  // Runs instead of a real shell; by default shell commands do nothing and
  // give 0.
  std::function<int(const std::string&)> on_shell;

  // When set, every recorded print is also written to stdout (for the
  // benchmark's and demo's eyes, and for debugging a test).
  bool echo = false;

  // Virtual time each operator answer takes, so that a test can let an
  // instrument finish its reboot while the operator reads the list.
  uint32_t answer_ms = 0;

  // Set to false to count prints without keeping them (benchmarks).
  bool keep_prints = true;

  const std::vector<Event>& events() const { return events_; }
  void clear() { events_.clear(); }

  // Every event, one per line, in a form meant to be compared whole:
  //   <12>Device is failed connected. (7)\n     a print in colour 12
  //   <->update...50.00%\r                      a plain print
  //   stderr<14>tmflash: ...\n                   a print to standard error
  //   pause | sleep 800 | shell echo hi | input 3 | input end
  // Control characters in printed text are written as \n, \r, \t, \xNN.
  std::string log() const;

  // All text printed to standard output, in order, without colours.
  std::string text() const;

  // All text printed to standard error, in order, without colours.
  std::string errors() const;

  // What a terminal would show: lines of printed text where a "\r" returns
  // to the start of the line and later text overwrites earlier text.
  std::string screen() const;

  // Sum of all recorded sleeps.
  uint64_t slept_ms() const;

  // Prints seen, also when keep_prints is false.
  uint64_t print_count() const { return print_count_; }

 private:
  // A print to standard output or error: counted, echoed when asked, kept.
  void record(Event::Kind kind, FILE* echo_to, int colour, std::string_view text);

  std::vector<Event> events_;
  std::deque<std::string> answers_;
  uint64_t now_ms_ = 0;
  uint64_t print_count_ = 0;
};
