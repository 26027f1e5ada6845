#include "driver/runner.h"

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "driver/jobs.h"
#include "driver/list_file.h"
#include "link/session.h"
#include "link/visa_ready.h"

namespace {

// Runs the job of one slot. Returns 0 when it is done, 1 when the run must stop.
int run_job(Updater& u, int slot, int& selection) {
  const char* argument = u.run.commond[slot];
  switch (u.run.commond_mode[slot]) {
    case kJobSystem:
      run_system_command(u.os, argument);  // its outcome is not examined
      return kOk;
    case kJobMachine: return machine_command_job(u, argument, selection);
    case kJobScript: return update_script_job(u, argument, selection);
    case kJobPackage: return package_job(u, argument, selection);
  }
  return kOk;
}

bool is_job(uint8_t kind) { return kind >= kJobScript && kind <= kJobPackage; }

// Runs the job of slot between the observer's start and end.
int run_observed_job(Updater& u, int slot, int& selection) {
  RunObserver* observer = u.run_observer;
  if (observer != nullptr) observer->job_started(slot, static_cast<JobKind>(u.run.commond_mode[slot]), u.run.commond[slot]);
  int result = run_job(u, slot, selection);
  if (observer != nullptr) observer->job_finished(slot, result);
  return result;
}

void between_jobs(Updater& u) {
  if (u.run.list_pause != 0) {
    pause(u.os);
  } else if (u.run.list_delay > 0) {
    u.os.sleep_ms(static_cast<uint32_t>(u.run.list_delay));
  }
}

}  // namespace

const char* job_kind_key(JobKind kind) {
  switch (kind) {
    case kJobScript: return "path";
    case kJobMachine: return "mcmd";
    case kJobSystem: return "scmd";
    case kJobPackage: return "pt";
    case kJobEmpty: break;
  }
  return "";
}

int updater_main(Updater& u, int argc, const char* const* argv) {
  if (argc <= 1) return report_failure_and_pause(u.os, msg::kParametersError);
  if (OpenIni(u, argv[1]) != kOk) {
    pause(u.os);
    return kFailed;
  }
  if (!names_a_job(u.run)) {
    printf_note(u.os, "%s: warning: the list file names no job; nothing is run\n", argv[1]);
  } else if (u.visa_chosen && needs_instrument(u.run) && ensure_visa(u) != kOk) {
    return kFailed;  // reported and paused for
  }
  int selection = kSelectionNone;  // no instrument chosen yet
  for (int slot = 0; slot < u.run.list_total; ++slot) {
    if (!is_job(u.run.commond_mode[slot])) continue;  // empty slot: no pause, no delay
    if (run_observed_job(u, slot, selection) != kOk) return kFailed;
    between_jobs(u);
  }
  printf_plain(u.os, msg::kUpdateOk);
  if (u.run.debug_mode != 0) pause(u.os);
  return kOk;
}
