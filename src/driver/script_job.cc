// The update-script job: one open of the script and the instrument, up to
// four runs of the script while the instrument answers with the wrong letter.
#include <cstdio>

#include "driver/console.h"
#include "driver/jobs.h"
#include "link/session.h"
#include "messages.h"
#include "script/command.h"
#include "script/script.h"

FILE* open_job_file(Updater& u, const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    printf_color(u.os, kColourRed, msg::kCorrupted5);
    pause(u.os);
    return nullptr;
  }
  printf_color(u.os, kColourGreen, msg::kFileUpdating, path);
  return file;
}

void UP_CLOSE(Updater& u, FILE* file) {
  fclose(file);
  usb_close(u);
}

int update_script_job(Updater& u, const char* path, int& selection) {
  reset_setting(u);
  FILE* file = open_job_file(u, path);
  if (file == nullptr) return 1;
  if (open_machine(u, &selection) != 0) {  // reported and paused for
    fclose(file);
    return 1;
  }
  int result = kCommandWrongEcho;
  for (int attempt = 0; attempt < kScriptAttempts; ++attempt) {
    result = program(u, selection, attempt, file);
    if (result == kCommandDone) break;
    if (result == kCommandFailed) {  // reported and paused for
      UP_CLOSE(u, file);
      return 1;
    }
    // After the last attempt too: the instrument gets the same 800 ms to
    // settle before its session is closed as before another attempt.
    u.os.sleep_ms(kScriptRetryMs);
  }
  UP_CLOSE(u, file);
  if (result != kCommandDone) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed8);
    pause(u.os);
    return 1;
  }
  return 0;
}
