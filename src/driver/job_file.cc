// The job plumbing the script and package jobs share: their file is opened
// with the job's announcement and closed together with the session.
#include <cstdio>

#include "base/console.h"
#include "base/messages.h"
#include "driver/jobs.h"
#include "link/session.h"

FILE* open_job_file(Updater& u, const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) {
    report_failure_and_pause(u.os, msg::kCorrupted5);
    return nullptr;
  }
  printf_color(u.os, kColourGreen, msg::kFileUpdating, path);
  return file;
}

void UP_CLOSE(Updater& u, FILE* file) {
  fclose(file);
  usb_close(u);
}
