#include "visa/trace/trace_backend.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "base/run_stop.h"
#include "platform/native.h"
#include "platform/native_path.h"
#include "visa/sim/transcript.h"
#include "visa/trace/traced_api.h"

namespace trace {

namespace {

using Steady = std::chrono::steady_clock;

int64_t micros(Steady::duration d) { return std::chrono::duration_cast<std::chrono::microseconds>(d).count(); }

// Makes its handler serve its slot while it is loaded, and no longer once
// it is gone.
class HandlerBackend : public VisaBackend, public CallHandler {
 public:
  explicit HandlerBackend(Slot slot) : slot_(slot) {}
  ~HandlerBackend() override {
    if (call_handler(slot_) == this) set_call_handler(slot_, nullptr);
  }

 protected:
  const VisaApi* serve() {
    set_call_handler(slot_, this);
    return handler_visa_api(slot_);
  }

 private:
  Slot slot_;
};

class TracingBackend : public HandlerBackend {
 public:
  TracingBackend(std::unique_ptr<VisaBackend> inner, FILE* file)
      : HandlerBackend(kTraceSlot), inner_(std::move(inner)), file_(file), start_(Steady::now()) {}
  ~TracingBackend() override { fclose(file_); }

  const VisaApi* load(std::string* why) override {
    if (api_ == nullptr) api_ = inner_->load(why);
    return api_ != nullptr ? serve() : nullptr;
  }

  ViStatus call(const char* name, const json& args, const Perform& perform, json* out) override {
    Steady::time_point begin = Steady::now();
    ViStatus status = perform(*api_, out);
    Steady::time_point end = Steady::now();
    json line{{"n", ++calls_},          {"t_us", micros(begin - start_)}, {"call", name},
              {"args", args},           {"status", status},               {"status_name", sim::status_name(status)},
              {"out", *out},            {"us", micros(end - begin)}};
    std::string text = line.dump(-1, ' ', true) + "\n";
    fwrite(text.data(), 1, text.size(), file_);
    // Each call reaches the file as it happens: the trace of a run that
    // hangs or is killed shows where.
    fflush(file_);
    return status;
  }

 private:
  std::unique_ptr<VisaBackend> inner_;
  FILE* file_;
  Steady::time_point start_;
  const VisaApi* api_ = nullptr;
  uint64_t calls_ = 0;
};

std::string call_text(const std::string& name, const json& args) { return name + " " + args.dump(-1, ' ', true); }

class ReplayBackend : public HandlerBackend {
 public:
  ReplayBackend(std::string path, Mismatch on_mismatch)
      : HandlerBackend(kReplaySlot), path_(std::move(path)), on_mismatch_(std::move(on_mismatch)) {}

  const VisaApi* load(std::string* why) override {
    if (!in_.is_open()) {
      in_.open(file_path(path_), std::ios::binary);
      if (!in_.is_open()) {
        *why = "replay:" + path_ + ": cannot open the trace: " + strerror(errno);
        return nullptr;
      }
    }
    return serve();
  }

  ViStatus call(const char* name, const json& args, const Perform&, json* out) override {
    if (stopped_) return VI_ERROR_SYSTEM_ERROR;
    ++calls_;
    json recorded;
    if (!next_call(&recorded)) {
      return mismatch("the trace has no call " + std::to_string(calls_) + "; tmflash made " + call_text(name, args));
    }
    const std::string& recorded_name = recorded["call"].get_ref<const std::string&>();
    if (recorded_name != name || recorded["args"] != args) {
      return mismatch("call " + std::to_string(calls_) + " (line " + std::to_string(line_) + ") is " +
                      call_text(recorded_name, recorded["args"]) + " in the trace; tmflash made " +
                      call_text(name, args));
    }
    auto found = recorded.find("out");
    if (found != recorded.end() && found->is_object()) *out = *found;
    return recorded["status"].get<ViStatus>();
  }

 private:
  // The next call of the trace, checked for the fields a replay needs.
  // False at the end of the file; a line that is no call ends the replay
  // there too, with its line number in why_.
  bool next_call(json* recorded) {
    std::string text;
    while (std::getline(in_, text)) {
      ++line_;
      if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
      *recorded = json::parse(text, nullptr, false);
      bool valid = !recorded->is_discarded() && recorded->is_object() && recorded->contains("call") &&
                   (*recorded)["call"].is_string() && recorded->contains("args") &&
                   (*recorded)["args"].is_object() && recorded->contains("status") &&
                   (*recorded)["status"].is_number_integer();
      if (!valid) {
        bad_line_ = true;
        return false;
      }
      return true;
    }
    return false;
  }

  ViStatus mismatch(const std::string& what) {
    stopped_ = true;
    std::string why = "replay of " + path_ + " stopped: " +
                      (bad_line_ ? "line " + std::to_string(line_) + " is not a traced call" : what);
    if (on_mismatch_) {
      on_mismatch_(why);
    } else {
      stop_run(why);
    }
    return VI_ERROR_SYSTEM_ERROR;
  }

  std::string path_;
  Mismatch on_mismatch_;
  std::ifstream in_;
  uint64_t calls_ = 0;
  uint64_t line_ = 0;
  bool bad_line_ = false;
  bool stopped_ = false;
};

}  // namespace

std::unique_ptr<VisaBackend> make_tracing_backend(std::unique_ptr<VisaBackend> inner, const std::string& path,
                                                  std::string* why) {
  FILE* file = open_file(path.c_str(), "wb");
  if (file == nullptr) {
    *why = path + ": " + strerror(errno);
    return nullptr;
  }
  return std::make_unique<TracingBackend>(std::move(inner), file);
}

std::unique_ptr<VisaBackend> make_replay_backend(std::string path, Mismatch on_mismatch) {
  return std::make_unique<ReplayBackend>(std::move(path), std::move(on_mismatch));
}

std::unique_ptr<VisaBackend> make_replay_backend_for_option(std::string_view visa_option) {
  constexpr std::string_view kPrefix = "replay:";
  if (!visa_option.starts_with(kPrefix)) return nullptr;
  return make_replay_backend(std::string(visa_option.substr(kPrefix.size())));
}

}  // namespace trace
