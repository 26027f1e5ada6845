// The machine-command job: one text written to the instrument.
#include "base/console.h"
#include "base/results.h"
#include "driver/jobs.h"
#include "link/session.h"

int machine_command_job(Updater& u, const char* text, int& selection) {
  int result = write_machine_command(u, text, &selection);
  if (result == kMachineWriteFailed) pause(u.os);  // the open's failure has paused already
  return result == kOk ? kOk : kFailed;
}
