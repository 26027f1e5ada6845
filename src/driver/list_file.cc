#include "driver/list_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "base/console.h"
#include "base/messages.h"
#include "base/text.h"
#include "platform/regular_file.h"

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

// Matched whole, case-sensitive.
constexpr const char* kSettingKeys[] = {"debug_mode", "usb_address", "delay", "total", "list_pause"};

// What applying one key and value did.
enum class KeyResult { kApplied, kUnknown, kTotalOverTwenty, kSlotOutside };

const JobKey* job_key(const char* key) {
  for (const JobKey& job : kJobKeys) {
    if (strncmp(key, job.prefix, strlen(job.prefix)) == 0) return &job;
  }
  return nullptr;
}

bool is_known_key(std::string_view key) {
  for (const char* setting : kSettingKeys) {
    if (key == setting) return true;
  }
  return !key.empty() && job_key(std::string(key).c_str()) != nullptr;
}

KeyResult apply_key(Updater& u, const char* key, const char* value) {
  RunList& run = u.run;
  if (strcmp(key, "debug_mode") == 0) {
    run.debug_mode = atoi_like(value);
  } else if (strcmp(key, "usb_address") == 0) {
    copy_text(u.link.UsbStrFilter, kUsbStrFilterSize, value);
  } else if (strcmp(key, "delay") == 0) {
    run.list_delay = atoi_like(value);
  } else if (strcmp(key, "total") == 0) {
    run.list_total = atoi_like(value);
    if (run.list_total > kMaxJobs) return KeyResult::kTotalOverTwenty;
  } else if (strcmp(key, "list_pause") == 0) {
    run.list_pause = atoi_like(value);
  } else if (const JobKey* job = job_key(key)) {
    int slot = atoi_like(key + strlen(job->prefix));
    if (slot < 0 || slot >= run.list_total) return KeyResult::kSlotOutside;
    run.commond_mode[slot] = job->kind;
    copy_text(run.commond[slot], kCommondSize, value);
  } else {
    return KeyResult::kUnknown;
  }
  return KeyResult::kApplied;
}

std::string quoted(std::string_view text) { return in_quotes(escaped(text, true)); }

// The warning about a line the run ignores: key is the text before the
// line's last '=' (the whole line when it has none).
Finding ignored_line(int number, const char* line, const char* key) {
  if (strchr(line, '=') == nullptr) return warning_at(number, "no '=' on the line; it is ignored");
  if (key[0] == '\0') return warning_at(number, "no key before '='; the line is ignored");
  std::string text = "unknown key " + quoted(key) + "; the line is ignored";
  if (is_known_key(trim(key))) text += " (nothing is trimmed around '=')";
  return warning_at(number, text);
}

// The fault of a key the run stops at.
Finding key_fault(int number, KeyResult result, const char* key, const RunList& run) {
  if (result == KeyResult::kTotalOverTwenty) {
    return fault_at_line(number, msg::kListFile3,
                         "total=" + std::to_string(run.list_total) + " is over " + std::to_string(kMaxJobs));
  }
  std::string slot = std::to_string(atoi_like(key + strlen(job_key(key)->prefix)));
  std::string text = "job key " + quoted(key) + " names slot " + slot;
  if (run.list_total <= 0) return fault_at_line(number, msg::kListFile4, text + ", and no total=N before it gives any");
  return fault_at_line(number, msg::kListFile4,
                       text + "; total=" + std::to_string(run.list_total) + " gives slots 0 .. " +
                           std::to_string(run.list_total - 1));
}

// True when text holds something other than blanks and line ends, as the
// list file's trimming counts them.
bool has_content(const char* text) {
  for (; *text != '\0'; ++text) {
    if (static_cast<signed char>(*text) > 0x20) return true;
  }
  return false;
}

// Reads the list file's pieces (fgets of 99 characters) and applies them.
class ListReader {
 public:
  ListReader(Updater& u, std::vector<Finding>* findings) : u_(u), findings_(findings) {}

  int read(FILE* file) {
    char piece[kListLineSize];
    while (fgets(piece, sizeof piece, file) != nullptr) {
      bool continues_line = !at_line_start_;
      at_line_start_ = strchr(piece, '\n') != nullptr;
      if (!continues_line) ++line_;
      if (apply_piece(piece, continues_line) != kOk) return kFailed;
    }
    return kOk;
  }

 private:
  // One piece: a whole line, or the next 99 characters of a longer one.
  int apply_piece(char* piece, bool continues_line) {
    if (continues_line && has_content(piece)) {
      warn(warning_at(line_, "the line is longer than 99 characters; from its 100th character on it is read as a "
                             "line of its own"));
    }
    int split = parser(piece);
    if (split == kSkipLine) return kOk;
    char whole[kListLineSize];
    copy_text(whole, sizeof whole, piece);
    piece[split] = '\0';
    const char* value = piece + split + 1;
    KeyResult result = apply_key(u_, piece, value);
    if (result == KeyResult::kApplied) return kOk;
    if (result == KeyResult::kUnknown) {
      warn(ignored_line(line_, whole, piece));
      return kOk;
    }
    findings_->push_back(key_fault(line_, result, piece, u_.run));
    return kFailed;
  }

  // At most one warning per line: the first the line gives.
  void warn(Finding f) {
    if (warned_line_ == line_) return;
    warned_line_ = line_;
    findings_->push_back(std::move(f));
  }

  Updater& u_;
  std::vector<Finding>* findings_;
  int line_ = 0;
  int warned_line_ = 0;
  bool at_line_start_ = true;
};

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
  switch (apply_key(u, key, value)) {
    case KeyResult::kTotalOverTwenty: return report_failure(u.os, msg::kListFile3);
    case KeyResult::kSlotOutside: return report_failure(u.os, msg::kListFile4);
    case KeyResult::kApplied:
    case KeyResult::kUnknown: break;
  }
  return kOk;
}

int read_list_file(Updater& u, const char* path, std::vector<Finding>* findings) {
  FileRefusal why;
  FILE* file = open_regular_file(path, &why);
  if (file == nullptr) {
    findings->push_back(fault_at_line(0, msg::kListFile1, std::string("cannot open the list file: ") + refusal_text(why)));
    return kFailed;
  }
  int result = ListReader(u, findings).read(file);
  // A folder opens like a file on some systems and then fails to read: the
  // run must not end "Update Ok" having read nothing.
  if (result == kOk && ferror(file)) {
    findings->push_back(fault_at_line(0, msg::kListFile1, std::string("cannot read the list file: ") + strerror(errno)));
    result = kFailed;
  }
  fclose(file);
  return result;
}

int OpenIni(Updater& u, const char* path) {
  std::vector<Finding> findings;
  int result = read_list_file(u, path, &findings);
  for (const Finding& f : findings) report_finding(u.os, path, f);
  return result;
}

bool names_a_job(const RunList& run) {
  for (int slot = 0; slot < run.list_total && slot < kMaxJobs; ++slot) {
    if (run.commond_mode[slot] >= kJobScript && run.commond_mode[slot] <= kJobPackage) return true;
  }
  return false;
}

bool needs_instrument(const RunList& run) {
  for (int slot = 0; slot < run.list_total && slot < kMaxJobs; ++slot) {
    uint8_t kind = run.commond_mode[slot];
    if (kind == kJobScript || kind == kJobMachine || kind == kJobPackage) return true;
  }
  return false;
}
