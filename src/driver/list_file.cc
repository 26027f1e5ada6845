#include "driver/list_file.h"

#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "base/messages.h"
#include "base/text.h"

namespace {

struct JobKey {
  const char* prefix;
  JobKind kind;
};

// Matched by their first characters, in this order.
constexpr JobKey kJobKeys[] = {
    {"path", kJobScript},
    {"mcmd", kJobMachine},
    {"scmd", kJobSystem},
    {"pt", kJobPackage},
};

int set_job(Updater& u, const JobKey& job, const char* key, const char* value) {
  int slot = atoi_like(key + strlen(job.prefix));
  if (slot < 0 || slot >= u.run.list_total) return report_failure(u.os, msg::kListFile4);
  u.run.commond_mode[slot] = job.kind;
  copy_text(u.run.commond[slot], kCommondSize, value);
  return kOk;
}

}  // namespace

int parser(char* line) {
  if (line[0] == ';' || line[0] == '[') return kSkipLine;
  int end = static_cast<int>(strlen(line));
  // Signed char: bytes 0x80..0xFF count as blanks too, so stored list files
  // whose lines end in such bytes (a UTF-8 no-break space, a byte of another
  // code page) name the same values they were tested with.
  while (end > 0 && static_cast<signed char>(line[end - 1]) <= 0x20) --end;
  line[end] = '\0';
  if (end == 0) return kSkipLine;
  for (int i = end - 1; i > 0; --i) {
    if (line[i] == '=') return i;
  }
  return 0;
}

int GetData(Updater& u, const char* key, const char* value) {
  RunList& run = u.run;
  if (strcmp(key, "debug_mode") == 0) {
    run.debug_mode = atoi_like(value);
  } else if (strcmp(key, "usb_address") == 0) {
    copy_text(u.link.UsbStrFilter, kUsbStrFilterSize, value);
  } else if (strcmp(key, "delay") == 0) {
    run.list_delay = atoi_like(value);
  } else if (strcmp(key, "total") == 0) {
    run.list_total = atoi_like(value);
    if (run.list_total > kMaxJobs) return report_failure(u.os, msg::kListFile3);
  } else if (strcmp(key, "list_pause") == 0) {
    run.list_pause = atoi_like(value);
  } else {
    for (const JobKey& job : kJobKeys) {
      if (strncmp(key, job.prefix, strlen(job.prefix)) == 0) return set_job(u, job, key, value);
    }
  }
  return kOk;
}

int OpenIni(Updater& u, const char* path) {
  FILE* file = fopen(path, "rb");
  if (file == nullptr) return report_failure(u.os, msg::kListFile1);
  char line[kListLineSize];
  int result = kOk;
  while (result == kOk && fgets(line, sizeof line, file) != nullptr) {
    int split = parser(line);
    if (split == kSkipLine) continue;
    line[split] = '\0';
    result = GetData(u, line, line + split + 1);
  }
  fclose(file);
  return result;
}
