#include "fleet/fleet_run.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string_view>

#include <nlohmann/json.hpp>

#include "fleet/instrument_run.h"
#include "link/instrument_choice.h"
#include "platform/wall_clock.h"
#include "record/run_log.h"
#include "record/run_record.h"

namespace {

// The operator's own names are kept as written, with the separator they
// used: the child files are named by joining text, not by rewriting paths.
#ifdef _WIN32
constexpr char kSeparators[] = "/\\";
#else
constexpr char kSeparators[] = "/";
#endif

// name in the folder dir.
std::string in_folder(const std::string& dir, const std::string& name) {
  if (dir.empty()) return name;
  bool ends_in_separator = std::string_view(kSeparators).find(dir.back()) != std::string_view::npos;
  return dir + (ends_in_separator ? "" : "/") + name;
}

using nlohmann::json;

constexpr char kFleetReportFormat[] = "tmflash-fleet-report-1";
// A wait for the children's output; also how often the lines on a
// terminal are redrawn at most while only progress changes.
constexpr int kWaitMs = 100;
constexpr int kSigInt = 2;

const char* state_name(InstrumentState s) {
  switch (s) {
    case InstrumentState::kWaiting: return "waiting";
    case InstrumentState::kRunning: return "running";
    case InstrumentState::kOk: return "ok";
    case InstrumentState::kFailed: return "failed";
    case InstrumentState::kStopped: return "stopped";
    case InstrumentState::kNotStarted: return "not started";
  }
  return "";
}

std::string read_text(const std::string& path) {
  std::string text;
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return text;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  fclose(f);
  return text;
}

class Fleet {
 public:
  Fleet(const FleetOptions& o, Processes& p, Platform& os, Clock& clock, const std::function<int64_t()>& wall_ms)
      : o_(o), p_(p), os_(os), clock_(clock), wall_ms_(wall_ms),
        log_([this] { return local_time_text(wall_ms_()); }), columns_(p.terminal_columns()) {}

  int run(const std::vector<std::string>& rsrcs);

 private:
  bool open_files();
  void add_instrument(const std::string& rsrc);
  std::vector<std::string> child_args(const InstrumentRun& in) const;
  void start_next();
  void take(const ChildEvent& e);
  void stop_all();
  bool all_ended() const;
  void show(bool force);
  void show_changes();
  void redraw();
  int summary();
  bool write_report(const std::string& result, int exit_status, std::string* why);

  const FleetOptions& o_;
  Processes& p_;
  Platform& os_;
  Clock& clock_;
  std::function<int64_t()> wall_ms_;
  RunLog log_;
  int columns_;  // 0: piped
  std::vector<InstrumentRun> ins_;
  std::vector<std::string> shown_;  // piped: each instrument's last change key printed
  size_t drawn_ = 0;                // terminal: lines drawn so far
  uint64_t drawn_ms_ = 0;
  uint64_t start_ms_ = 0;
  std::string started_text_;
  int stop_signal_ = 0;
};

bool Fleet::open_files() {
  std::string why;
  std::error_code ec;
  if (!o_.log_dir.empty() && !std::filesystem::is_directory(o_.log_dir, ec) &&
      !std::filesystem::create_directories(o_.log_dir, ec)) {
    os_.print_error(kColourRed, "tmflash: cannot make the log folder " + o_.log_dir + ": " + ec.message() + "\n");
    return false;
  }
  if (!o_.log.empty() && !log_.open(o_.log, &why)) {
    os_.print_error(kColourRed, "tmflash: cannot open the log file " + why + "\n");
    return false;
  }
  if (!o_.report.empty() && !write_report("running", 0, &why)) {
    os_.print_error(kColourRed, "tmflash: cannot write the report " + why + "\n");
    return false;
  }
  return true;
}

void Fleet::add_instrument(const std::string& rsrc) {
  InstrumentRun in;
  in.resource = rsrc;
  in.serial = std::string(serial_of(rsrc));
  in.jobs = o_.list_jobs;
  std::string name = file_safe(in.serial);
  if (!o_.log_dir.empty() || !o_.log.empty()) in.log_path = per_instrument_path(o_.log, o_.log_dir, name, ".log");
  if (!o_.trace.empty()) in.trace_path = per_instrument_path(o_.trace, "", name, ".jsonl");
  in.report_path = in_folder(o_.work_dir, name + ".json");
  ins_.push_back(std::move(in));
}

std::vector<std::string> Fleet::child_args(const InstrumentRun& in) const {
  std::vector<std::string> args{o_.program};
  args.insert(args.end(), o_.child_options.begin(), o_.child_options.end());
  args.push_back("--serial=" + in.serial);
  args.push_back("--no-pause");
  args.push_back("--report=" + in.report_path);
  if (!in.log_path.empty()) args.push_back("--log=" + in.log_path);
  if (!in.trace_path.empty()) args.push_back("--trace=" + in.trace_path);
  args.push_back(o_.list_file);
  return args;
}

void Fleet::start_next() {
  int running = 0;
  for (const InstrumentRun& in : ins_) running += in.state == InstrumentState::kRunning;
  for (InstrumentRun& in : ins_) {
    if (o_.jobs > 0 && running >= o_.jobs) return;
    if (in.state != InstrumentState::kWaiting) continue;
    std::vector<std::string> args = child_args(in);
    std::string why;
    in.started_ms = clock_.now_ms();
    in.child = p_.start(args, &why);
    if (in.child < 0) {
      in.state = InstrumentState::kFailed;
      in.message = "cannot start tmflash: " + why;
      in.ended_ms = in.started_ms;
      continue;
    }
    in.state = InstrumentState::kRunning;
    std::string line;
    for (const std::string& a : args) line += (line.empty() ? "" : " ") + a;
    log_.event(in.serial + " started: " + line);
    ++running;
  }
}

void Fleet::take(const ChildEvent& e) {
  for (InstrumentRun& in : ins_) {
    if (in.child != e.child || in.state != InstrumentState::kRunning) continue;
    if (e.kind == ChildEvent::kOutput) {
      take_output(in, e.text);
      return;
    }
    take_end(in, e.status, read_text(in.report_path));
    in.ended_ms = clock_.now_ms();
    if (stop_signal_ != 0 && in.state == InstrumentState::kFailed) in.state = InstrumentState::kStopped;
    log_.event(status_line(in) + ", exit status " + std::to_string(e.status) + ", " +
               std::to_string(in.ended_ms - in.started_ms) + " ms");
    return;
  }
}

void Fleet::stop_all() {
  for (InstrumentRun& in : ins_) {
    if (in.state == InstrumentState::kRunning) p_.stop(in.child);
    if (in.state == InstrumentState::kWaiting) in.state = InstrumentState::kNotStarted;
  }
}

bool Fleet::all_ended() const {
  for (const InstrumentRun& in : ins_) {
    if (in.state == InstrumentState::kRunning || in.state == InstrumentState::kWaiting) return false;
  }
  return true;
}

void Fleet::show(bool force) {
  if (columns_ == 0) return show_changes();
  uint64_t now = clock_.now_ms();
  if (force || now - drawn_ms_ >= static_cast<uint64_t>(kWaitMs)) redraw();
}

void Fleet::show_changes() {
  for (size_t i = 0; i < ins_.size(); ++i) {
    std::string key = change_key(ins_[i]);
    if (shown_[i] == key) continue;
    shown_[i] = key;
    std::string line = status_line(ins_[i]);
    os_.print(kColourPlain, line + "\n");
    log_.event(line);
  }
}

// The lines drawn before are overwritten: up to the first of them, then
// each line cleared and written again.
void Fleet::redraw() {
  std::string text;
  if (drawn_ > 0) text += "\x1b[" + std::to_string(drawn_) + "A\r";
  // A line that wrapped would take two rows, and the next drawing would
  // start one row too low: each is cut to the width.
  size_t width = static_cast<size_t>(columns_ > 1 ? columns_ - 1 : 1);
  for (const InstrumentRun& in : ins_) text += "\x1b[2K" + status_line(in).substr(0, width) + "\n";
  os_.print(kColourPlain, text);
  drawn_ = ins_.size();
  drawn_ms_ = clock_.now_ms();
  // The log keeps each line as it changes, as the piped output shows it.
  for (size_t i = 0; i < ins_.size(); ++i) {
    std::string key = change_key(ins_[i]);
    if (shown_[i] != key) log_.event(status_line(ins_[i]));
    shown_[i] = key;
  }
}

int Fleet::summary() {
  int ok = 0, failed = 0, stopped = 0, not_started = 0;
  for (const InstrumentRun& in : ins_) {
    ok += in.state == InstrumentState::kOk;
    failed += in.state == InstrumentState::kFailed;
    stopped += in.state == InstrumentState::kStopped;
    not_started += in.state == InstrumentState::kNotStarted;
  }
  std::string text = "fleet: " + std::to_string(ins_.size()) + " instruments, " + std::to_string(ok) + " Update Ok";
  if (failed > 0) text += ", " + std::to_string(failed) + " failed";
  if (stopped > 0) text += ", " + std::to_string(stopped) + " stopped";
  if (not_started > 0) text += ", " + std::to_string(not_started) + " not started";
  text += "\n";
  std::string in_boot;
  for (const InstrumentRun& in : ins_) {
    if (in.state != InstrumentState::kOk) text += status_line(in) + "\n";
    if (in.state == InstrumentState::kStopped && in.reached_jump) in_boot += (in_boot.empty() ? "" : ", ") + in.serial;
  }
  for (const InstrumentRun& in : ins_) {
    for (const std::string& m : in.pauses) {
      // A failed run's pause after its numbered message is its failure,
      // named above.
      bool failure = in.state != InstrumentState::kOk && !message_number(m).empty();
      if (!failure) text += in.serial + ": did not wait at a pause after: " + m + "\n";
    }
  }
  if (stop_signal_ != 0) {
    text += std::string("fleet: stopped by ") + (stop_signal_ == kSigInt ? "Ctrl-C" : "signal " + std::to_string(stop_signal_)) +
            "; may be left in the bootloader: " + (in_boot.empty() ? "none" : in_boot) + "\n";
  }
  os_.print(kColourPlain, text);
  for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    log_.event(text.substr(at, end - at));
  }
  return ok == static_cast<int>(ins_.size()) && stop_signal_ == 0 ? 0 : 1;
}

bool Fleet::write_report(const std::string& result, int exit_status, std::string* why) {
  int64_t now = wall_ms_();
  json instruments = json::array();
  for (const InstrumentRun& in : ins_) {
    json run = nullptr;
    if (in.state != InstrumentState::kWaiting && in.state != InstrumentState::kNotStarted) {
      run = json::parse(read_text(in.report_path), nullptr, false);
      if (run.is_discarded()) run = nullptr;
    }
    instruments.push_back(json{{"serial", in.serial},
                               {"resource", in.resource},
                               {"result", state_name(in.state)},
                               {"message", in.message},
                               {"number", in.number},
                               {"exit_status", in.exit_status},
                               {"duration_ms", in.ended_ms - in.started_ms},
                               {"may_be_in_bootloader", in.state == InstrumentState::kStopped && in.reached_jump},
                               {"pauses", in.pauses},
                               {"log", in.log_path},
                               {"trace", in.trace_path},
                               {"run", run}});
  }
  json report{{"format", kFleetReportFormat},
              {"tmflash_version", o_.version},
              {"command_line", o_.arguments},
              {"list_file", o_.list_file},
              {"jobs_at_once", o_.jobs},
              {"started", started_text_},
              {"ended", result == "running" ? "" : local_time_text(now)},
              {"duration_ms", clock_.now_ms() - start_ms_},
              {"result", result},
              {"exit_status", exit_status},
              {"instruments", instruments}};
  return replace_file(o_.report, report.dump(2, ' ', false, json::error_handler_t::replace) + "\n", why);
}

int Fleet::run(const std::vector<std::string>& rsrcs) {
  start_ms_ = clock_.now_ms();
  started_text_ = local_time_text(wall_ms_());
  for (const std::string& r : rsrcs) add_instrument(r);
  shown_.assign(ins_.size(), "");
  if (!open_files()) return 1;
  std::string args;
  for (const std::string& a : o_.arguments) args += (args.empty() ? "" : " ") + a;
  log_.event("fleet started: tmflash " + o_.version + ", arguments: " + args);
  for (const InstrumentRun& in : ins_) log_.event("instrument " + in.resource + ", serial " + in.serial);

  start_next();
  show(true);
  std::vector<ChildEvent> events;
  while (!all_ended()) {
    events.clear();
    p_.wait(kWaitMs, &events);
    bool ended = false;
    // Before the events: a child that the same Ctrl-C ended is stopped,
    // not failed.
    if (stop_signal_ == 0 && p_.interrupted() != 0) {
      stop_signal_ = p_.interrupted();
      log_.event("stop asked (signal " + std::to_string(stop_signal_) + "): every child is stopped");
      stop_all();
      ended = true;
    }
    for (const ChildEvent& e : events) {
      take(e);
      ended = ended || e.kind == ChildEvent::kEnded;
    }
    if (stop_signal_ == 0) start_next();
    show(ended);
  }
  show(true);
  int status = summary();
  std::string why;
  if (!o_.report.empty() && !write_report(status == 0 ? "ok" : "failed", status, &why)) {
    os_.print_error(kColourRed, "tmflash: cannot write the report " + why + "\n");
    status = 1;
  }
  log_.event("fleet ended: exit status " + std::to_string(status) + ", " +
             std::to_string(clock_.now_ms() - start_ms_) + " ms");
  return status;
}

}  // namespace

std::string per_instrument_path(const std::string& path, const std::string& dir, const std::string& serial,
                                const std::string& extension) {
  if (!dir.empty()) return in_folder(dir, serial + extension);
  size_t name = path.find_last_of(kSeparators);
  name = name == std::string::npos ? 0 : name + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot <= name) dot = path.size();  // no extension; ".log" is a name
  return path.substr(0, dot) + "-" + serial + path.substr(dot);
}

int run_fleet(const FleetOptions& o, const std::vector<std::string>& rsrcs, Processes& processes, Platform& os,
              Clock& clock, const std::function<int64_t()>& wall_ms) {
  Fleet fleet(o, processes, os, clock, wall_ms);
  return fleet.run(rsrcs);
}
