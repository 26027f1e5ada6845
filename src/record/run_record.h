// The record of one run: what the log tells line by line and the report
// holds as JSON for a manufacturing system. Plain structs, so that a later
// writer (the fleet's summary, a note the updater adds to a job) adds a
// field here and both the report and its reader carry it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The format name the report carries; a reader refuses another.
constexpr char kReportFormat[] = "tmflash-report-1";

// One reply of the instrument to an identity or version query.
struct VersionReading {
  std::string query;  // "*IDN?", "syst:info?", "bootloader version", "main version", "control-in"
  std::string reply;  // without its line end
};

struct InstrumentRecord {
  std::string resource;                          // the first instrument chosen ("" when none)
  std::string serial;                            // the serial number field of resource
  std::vector<std::string> resources;            // every resource string chosen, each once, in order
  std::vector<VersionReading> versions_before;   // read before the run's first jump to the bootloader
  std::vector<VersionReading> versions_after;    // read after it
};

struct JobRecord {
  int slot = 0;
  std::string kind;       // the list-file key: "path", "mcmd", "scmd", "pt"
  std::string argument;   // its value: the file, the command text
  std::string started;    // local time, ISO 8601
  int64_t duration_ms = 0;
  std::string result;     // "ok", "failed", or "running" while it runs
  std::string message;    // failed: the message that names the failure ("Device is failed connected. (6)")
  std::string number;     // its number ("6", "10-2", "9-17"); "" for a message without one
  std::vector<std::string> notes;  // what else the run has to say of this job
};

struct RunRecord {
  std::string format = kReportFormat;
  std::string tmflash_version;
  std::vector<std::string> command_line;  // the arguments after the program's name
  std::string list_file;
  std::string started;  // local time, ISO 8601
  std::string ended;    // "" while the run goes on
  int64_t duration_ms = 0;
  std::string result;   // "ok", "failed", or "running" while the run goes on
  int exit_status = 0;
  std::string message;  // failed: the message that names the failure, as for a job
  std::string number;
  InstrumentRecord instrument;
  std::vector<JobRecord> jobs;
  std::vector<std::string> notes;  // what the run has to say outside its jobs
};

// The report: rec as indented JSON text. Text that is not UTF-8 (a reply
// with binary bytes) is written with U+FFFD in place of the bad bytes.
std::string report_json(const RunRecord& rec);

// Reads a report written by report_json. Fields it lacks keep their
// defaults. False with *why for text that is not such a report.
bool parse_report(const std::string& text, RunRecord* rec, std::string* why);

// The number a message ends with, "(6)", "(10-2)", "(9-17)": "6", "10-2",
// "9-17"; "" when it ends with none.
std::string message_number(std::string_view line);

// Writes text to path through a file beside it that then replaces path, so
// that whoever watches path never reads half a report. Something that is
// not a regular file (a pipe, /dev/stdout) is written directly. False with
// *why when it cannot be written.
bool replace_file(const std::string& path, const std::string& text, std::string* why);
