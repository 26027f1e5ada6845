#include "package/package_runner.h"

#include <cstring>
#include <string>

#include "base/console.h"
#include "base/messages.h"
#include "base/text.h"
#include "link/queries.h"
#include "link/session.h"
#include "package/package_check.h"
#include "package/package_format.h"
#include "package/section_stream.h"
#include "script/script.h"

namespace {

constexpr int kInfoBufferSize = 500;

// The compatibility check's queries, byte for byte as the instruments'
// firmware answers them: the identity query in lower case, with no "(6)" for
// its failed read ("(3)" follows on its own).
constexpr char kInfoIdnQuery[] = "*idn?\n";
constexpr char kInfoQuery[] = "syst:info?\n";
constexpr Probe kInfoIdnProbe{kInfoIdnQuery, sizeof kInfoIdnQuery - 1, kQuietReadFailure,
                              msg::kDeviceFailed3, msg::kNoIdn};
constexpr Probe kInfoProbe{kInfoQuery, sizeof kInfoQuery - 1, kReportReadFailure, msg::kNoInfo1,
                           msg::kNoInfo2};

// Reads the header and checks the whole package. Returns 0 when it may run;
// 1 after the message of the first fault a run would meet, and where it is.
int read_and_check(PackageUpdater& u, FILE* file, const char* path) {
  size_t got = fread(u.pkg.pt_header, 1, kPtHeaderSize, file);
  PackageCheck check = validate_package(u.pkg.pt_header, file, u.integrity.strict);
  if (check.fault == PtFault::kNone && got != static_cast<size_t>(kPtHeaderSize)) {
    check.fault = PtFault::kReadError;
    check.text = "the header cannot be read";
  }
  if (check.fault == PtFault::kNone) return kOk;
  return report_finding(u.os, path, package_finding(check));
}

int run_command_section(PackageUpdater& u, const SectionRecord& rec, FILE* file, int* selection) {
  char text[kDataSize] = {};
  if (fread(text, 1, rec.length, file) != rec.length) return report_failure(u.os, msg::kCorrupted10_1);
  if (strncmp(rec.kind, kMachineSectionKind, kSectionKindLength) == 0) {
    return write_machine_command(u, text, selection) == kOk ? kOk : kFailed;
  }
  if (strncmp(rec.kind, kSystemSectionKind, kSectionKindLength) == 0) {
    run_system_command(u.os, text);
    return kOk;
  }
  return report_failure(u.os, msg::kCorrupted10_6);
}

int run_firmware_section(PackageUpdater& u, const SectionRecord& rec, FILE* file, int* selection,
                         int attempt) {
  reset_setting(u);
  if (open_machine(u, selection) != kOk) return kFailed;
  apply_section_record(u.upd, rec);
  int r = section_kind(rec.flags) == SectionKind::kBinary
              ? update_bin(u, *selection, attempt, rec.length, file)
              : update_img(u, *selection, attempt, rec.length, file);
  if (r != kOk) return kFailed;
  usb_close(u);
  return kOk;
}

// The text of reply from p up to the next stop character (or its end), as a
// NUL-terminated copy in out. Returns the position of the stop character, or
// nullptr when the text ends first.
const char* field(const char* p, char stop, char* out, size_t out_size) {
  const char* end = strchr(p, stop);
  size_t n = end != nullptr ? static_cast<size_t>(end - p) : strlen(p);
  if (n >= out_size) n = out_size - 1;
  memcpy(out, p, n);
  out[n] = '\0';
  return end;
}

// One section entry "index#name#version#hardware" at p, for record n.
// Returns 0 when it matches, else its mismatch code; *next is the cursor
// after its ',' or nullptr at the end of the reply.
int check_section_entry(PackageUpdater& u, int n, const char* p, const char** next) {
  char name[kInfoBufferSize], version[kInfoBufferSize], hardware[kInfoBufferSize];
  const char* name_end = field(p, '#', name, sizeof name);
  if (name_end == nullptr) return kInfoUnreadable;
  const char* version_end = field(name_end + 1, '#', version, sizeof version);
  if (version_end == nullptr) return kInfoUnreadable;
  const char* hardware_end = field(version_end + 1, ',', hardware, sizeof hardware);

  SectionRecord rec = pt_record(u.pkg.pt_header, n);
  char reply_major[kInfoBufferSize], package_major[kInfoBufferSize];
  major_part(version, reply_major, sizeof reply_major);
  major_part(rec.boot_version, package_major, sizeof package_major);
  if (strstr(reply_major, package_major) == nullptr) return kInfoVersionMismatch + n;
  if (strstr(hardware, rec.kind) == nullptr) return kInfoHardwareMismatch + n;
  *next = hardware_end != nullptr ? hardware_end + 1 : nullptr;
  return kOk;
}

// Walks the info reply: section entries until a device entry or the end.
int walk_info(PackageUpdater& u, const char* reply) {
  const char* cursor = reply;
  while (cursor != nullptr) {
    const char* hash = strchr(cursor, '#');
    if (hash == nullptr) return kInfoUnreadable;
    int index = atoi_like(cursor);
    if (index == -1) {
      char code[kInfoBufferSize];
      if (field(hash + 1, '#', code, sizeof code) == nullptr) return kInfoUnreadable;
      char package_code[kDeviceCodeSize + 1];
      pt_device_code(u.pkg.pt_header, package_code);
      return strncmp(code, package_code, kDeviceCodeSize) == 0 ? kOk : kInfoDeviceMismatch;
    }
    if (index < 0 || index >= kSectionCount) return kInfoUnreadable;
    int r = check_section_entry(u, index, hash + 1, &cursor);
    if (r != kOk) return r;
  }
  return kOk;
}

// The instrument could not tell whether the package suits it. The run goes
// on as the instruments whose firmware lacks the query need it to, and its
// log and report say that nothing was checked; under --strict the package
// stops here instead of flashing blind: "(9-0)", 1.
int compatibility_unchecked(PackageUpdater& u, const char* path, const char* why) {
  std::string text = std::string("compatibility check skipped: ") + why;
  if (u.observer != nullptr) u.observer->note(text);
  if (!u.integrity.strict) return kOk;
  report_failure(u.os, msg::kCorrupted9, 0);
  printf_note(u.os, "%s: %s; --strict refuses a package whose compatibility cannot be checked\n", path, text.c_str());
  return kFailed;
}

}  // namespace

int ask_info(PackageUpdater& u, const char** skipped) {
  const char* ignored = nullptr;
  if (skipped == nullptr) skipped = &ignored;
  *skipped = nullptr;
  char reply[kReplySize];
  int r = run_probe(u, kInfoIdnProbe, reply);
  if (r == kQueryFailed) return kInfoQueryFailed;
  if (r != kOk) {  // the instrument cannot tell: no check
    *skipped = "the identity reply begins with \"f\"";
    return kOk;
  }
  if (starts_with(reply, "boot")) {
    // Its bootloader already runs (an update was cut off after its jump, or
    // an earlier job left it there): the system information is the main
    // firmware's, which the bootloader cannot give, and asking would refuse
    // the very package that finishes the update. Each firmware section's
    // transfer command still checks the bootloader and hardware versions.
    *skipped = "the instrument runs its bootloader";
    return kOk;
  }
  r = run_probe(u, kInfoProbe, reply);
  if (r != kOk) {
    *skipped = r == kQueryFailed ? "the instrument did not answer syst:info?"
                                 : "the syst:info? reply begins with \"f\"";
    return kOk;
  }
  return walk_info(u, reply);
}

int UpdatePt(PackageUpdater& u, int selection, int attempt, FILE* file, const char* path) {
  if (read_and_check(u, file, path) != kOk) return kFailed;
  if (open_machine(u, &selection) != kOk) return kFailed;
  const char* skipped = nullptr;
  int r = ask_info(u, &skipped);
  if (r == kInfoQueryFailed) return kFailed;
  if (r != kOk) return report_failure(u.os, msg::kCorrupted9, r);
  if (skipped != nullptr && compatibility_unchecked(u, path, skipped) != kOk) return kFailed;
  usb_close(u);

  int64_t offsets[kSectionCount];
  pt_data_offsets(u.pkg.pt_header, offsets);  // checked by read_and_check
  for (int k = 0; k < kRunOrderSize; ++k) {
    uint8_t i = pt_run_order_entry(u.pkg.pt_header, k);
    if (i == kRunOrderEnd) break;
    SectionRecord rec = pt_record(u.pkg.pt_header, i);
    if (rec.length == 0) continue;
    fseek(file, static_cast<long>(offsets[i]), SEEK_SET);
    int failed = section_kind(rec.flags) == SectionKind::kCommand
                     ? run_command_section(u, rec, file, &selection)
                     : run_firmware_section(u, rec, file, &selection, attempt);
    if (failed != kOk) return kFailed;
  }
  return kOk;
}
