// The job plumbing the script and package jobs share: their file is opened
// with the job's announcement and closed together with the session.
#include <cstdio>

#include "base/console.h"
#include "base/messages.h"
#include "driver/jobs.h"
#include "link/session.h"
#include "platform/regular_file.h"

FILE* open_job_file(Updater& u, const char* path) {
  FileRefusal why;
  FILE* file = open_regular_file(path, &why);
  if (file == nullptr) {
    report_failure(u.os, msg::kCorrupted5);
    printf_note(u.os, "%s: cannot open: %s\n", path, refusal_text(why));
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
