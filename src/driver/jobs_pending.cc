// Job kinds whose operations this build does not have yet. Such a job stops
// the run: it is never counted as done.
#include <cstdio>

#include "driver/console.h"
#include "driver/jobs.h"
#include "link/visa_ready.h"

namespace {

int not_supported(Updater& u, const char* what, const char* argument) {
  printf_color(u.os, kColourRed, "%s jobs are not supported by this build of tmflash (%s).\n",
               what, argument);
  return 1;
}

}  // namespace

// Every one of them needs the instrument: without VISA the run stops here.
int package_job(Updater& u, const char* path, int) {
  if (ensure_visa(u) != 0) return 1;
  return not_supported(u, "Package", path);
}
