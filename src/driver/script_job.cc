// The update-script job: one open of the script and the instrument, up to
// four runs of the script while the instrument answers with the wrong letter.
#include <cstdio>
#include <string>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "driver/jobs.h"
#include "link/session.h"
#include "script/command.h"
#include "script/script.h"

namespace {

// The checks of the script's integrity before the instrument is opened: its
// checksum line, when it has one (not with --no-verify), and under --strict
// that it has one. Returns 0 when it may run; 1 after "Corrupted Update
// File. (11)" or "(12)", the reason on standard error and a pause.
int verify_script(Updater& u, FILE* file, const char* path) {
  const IntegrityRules& rules = u.integrity;
  if (!rules.verify_checksum && !rules.strict) return kOk;
  ChecksumCheck check = check_checksum(file);
  std::string why;
  const char* message = script_integrity_fault(check, rules.strict, &why);
  if (message == nullptr) return kOk;
  report_failure(u.os, "%s", message);
  if (check.line != 0 && !check.read_error && !rules.strict) {
    why += " (--no-verify runs it all the same)";
  }
  if (check.line == 0) {
    printf_note(u.os, "%s: %s\n", path, why.c_str());
  } else {
    printf_note(u.os, "%s:%d: %s\n", path, check.line, why.c_str());
  }
  pause(u.os);
  return kFailed;
}

}  // namespace

int update_script_job(Updater& u, const char* path, int& selection) {
  reset_setting(u);
  FILE* file = open_job_file(u, path);
  if (file == nullptr) return kFailed;
  if (verify_script(u, file, path) != kOk) {
    fclose(file);
    return kFailed;
  }
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
