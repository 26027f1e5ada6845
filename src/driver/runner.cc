#include "driver/runner.h"

#include "driver/console.h"
#include "driver/jobs.h"
#include "driver/list_file.h"
#include "messages.h"

namespace {

// Runs the job of one slot. Returns 0 when it is done, 1 when the run must stop.
int run_job(Updater& u, int slot, int& selection) {
  const char* argument = u.run.commond[slot];
  switch (u.run.commond_mode[slot]) {
    case kJobSystem:
      printf_color(u.os, kColourGreen, msg::kSystemCmd, argument);
      SystemCmd(u.os, argument);  // its outcome is not examined
      return 0;
    case kJobMachine: return machine_command_job(u, argument, selection);
    case kJobScript: return update_script_job(u, argument, selection);
    case kJobPackage: return package_job(u, argument, selection);
  }
  return 0;
}

bool is_job(uint8_t kind) { return kind >= kJobScript && kind <= kJobPackage; }

void between_jobs(Updater& u) {
  if (u.run.list_pause != 0) {
    pause(u.os);
  } else if (u.run.list_delay > 0) {
    u.os.sleep_ms(static_cast<uint32_t>(u.run.list_delay));
  }
}

}  // namespace

int updater_main(Updater& u, int argc, const char* const* argv) {
  if (argc <= 1) {
    printf_color(u.os, kColourRed, msg::kParametersError);
    pause(u.os);
    return 1;
  }
  if (OpenIni(u, argv[1]) != 0) {
    pause(u.os);
    return 1;
  }
  int selection = -1;  // no instrument chosen yet
  for (int slot = 0; slot < u.run.list_total; ++slot) {
    if (!is_job(u.run.commond_mode[slot])) continue;  // empty slot: no pause, no delay
    if (run_job(u, slot, selection) != 0) return 1;
    between_jobs(u);
  }
  printf_plain(u.os, msg::kUpdateOk);
  if (u.run.debug_mode != 0) pause(u.os);
  return 0;
}
