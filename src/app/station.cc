#include "app/station.h"

#include <memory>

#include "app/visa_choice.h"
#include "base/console.h"
#include "base/run_stop.h"
#include "config.h"
#include "driver/runner.h"
#include "platform/clock.h"
#include "platform/wall_clock.h"
#include "record/console_tee.h"
#include "record/run_recorder.h"
#include "visa/trace/trace_backend.h"

namespace {

int start_failure(Platform& os, const std::string& what) {
  printf_color(os, kColourRed, "tmflash: %s\n", what.c_str());
  return 1;
}

// The VISA implementation of --visa, behind the trace writer of --trace.
std::unique_ptr<VisaBackend> visa_backend(const CommandLine& cl, std::string* why) {
  std::unique_ptr<VisaBackend> visa = choose_visa_backend(cl.visa);
  if (cl.trace.empty()) return visa;
  std::unique_ptr<VisaBackend> traced = trace::make_tracing_backend(std::move(visa), cl.trace, why);
  if (traced == nullptr) *why = "cannot create the trace file " + *why;
  return traced;
}

}  // namespace

int run_command_line(const CommandLine& cl, const std::vector<std::string>& arguments, Platform& os) {
  ConsoleTee console(os, cl.no_pause);
  RealClock clock;
  RunRecorder recorder(clock, wall_clock_ms);
  // The report comes last: once it is written ("running"), the run must
  // reach its end to finish it.
  std::string why;
  if (!cl.log.empty() && !recorder.open_log(cl.log, &why)) return start_failure(os, "cannot open the log file " + why);
  std::unique_ptr<VisaBackend> visa = visa_backend(cl, &why);
  if (visa == nullptr) return start_failure(os, why);
  if (!cl.report.empty() && !recorder.open_report(cl.report, &why)) {
    return start_failure(os, "cannot write the report " + why);
  }

  Updater u(console, visa.get());
  u.visa_chosen = !cl.visa.empty();
  u.choice.select = cl.select;
  u.choice.serial = cl.serial;
  u.integrity.strict = cl.strict;
  u.integrity.verify_checksum = !cl.no_verify;
  if (!cl.log.empty() || !cl.report.empty()) {
    console.set_sink(&recorder);
    u.run_observer = &recorder;
    u.observer = &recorder;
  }
  recorder.run_started(TMFLASH_VERSION, arguments, cl.list_file.value_or(""));
  // A replay that leaves its trace ends the run from inside a VISA call:
  // the reason is shown like any message that stops a run, and the log and
  // the report still get their end.
  set_stop_hook([&](const std::string& stop_why) {
    printf_color(console, kColourRed, "%s\n", stop_why.c_str());
    std::string ignored;
    recorder.run_finished(1, &ignored);
  });

  // The runner takes the list file as argv[1], as operators' procedures and
  // batch files give it, and nothing of the options.
  std::vector<const char*> args{"tmflash"};
  if (cl.list_file) args.push_back(cl.list_file->c_str());
  int status = updater_main(u, static_cast<int>(args.size()), args.data());

  set_stop_hook(nullptr);
  why.clear();
  status = recorder.run_finished(status, &why);
  if (status != 0 && !why.empty()) start_failure(os, "cannot write the report " + why);
  return status;
}
