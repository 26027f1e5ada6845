// The update-script job: one open of the script and the instrument, up to
// four runs of the script while the instrument answers with the wrong letter.
#include <cstdio>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "driver/jobs.h"
#include "link/session.h"
#include "script/command.h"
#include "script/script.h"

int update_script_job(Updater& u, const char* path, int& selection) {
  reset_setting(u);
  FILE* file = open_job_file(u, path);
  if (file == nullptr) return kFailed;
  if (open_machine(u, &selection) != kOk) {  // reported and paused for
    fclose(file);
    return kFailed;
  }
  int result = kCommandWrongEcho;
  for (int attempt = 0; attempt < kScriptAttempts; ++attempt) {
    result = program(u, selection, attempt, file);
    if (result == kCommandDone) break;
    if (result == kCommandFailed) {  // reported and paused for
      UP_CLOSE(u, file);
      return kFailed;
    }
    // After the last attempt too: the instrument gets the same 800 ms to
    // settle before its session is closed as before another attempt.
    u.os.sleep_ms(kScriptRetryMs);
  }
  UP_CLOSE(u, file);
  if (result != kCommandDone) return report_failure_and_pause(u.os, msg::kDeviceFailed8);
  return kOk;
}
