// The package job: one open of the package file, the package run, one close.
#include <cstdio>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "driver/jobs.h"
#include "package/package_runner.h"

int package_job(Updater& u, const char* path, int selection) {
  FILE* file = open_job_file(u, path);
  if (file == nullptr) return kFailed;
  int result = UpdatePt(u, selection, 0, file, path);
  UP_CLOSE(u, file);
  if (result != kOk) return report_failure_and_pause(u.os, msg::kDeviceFailed8);
  return kOk;
}
