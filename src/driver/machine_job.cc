// The machine-command job: one text written to the instrument.
#include "driver/console.h"
#include "driver/jobs.h"
#include "link/queries.h"
#include "link/session.h"
#include "messages.h"

int machine_command_job(Updater& u, const char* text, int& selection) {
  printf_color(u.os, kColourGreen, msg::kMachineCmd, text);
  if (open_machine(u, &selection) != 0) return 1;  // reported and paused for
  if (visa_write(u, text) != 0) {  // reported, sessions closed
    pause(u.os);
    return 1;
  }
  usb_close(u);
  return 0;
}
