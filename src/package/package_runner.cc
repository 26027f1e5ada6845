#include "package/package_runner.h"

#include <cstring>

#include "base/text.h"
#include "driver/console.h"
#include "driver/jobs.h"
#include "link/queries.h"
#include "link/session.h"
#include "messages.h"
#include "package/package_check.h"
#include "package/package_format.h"
#include "package/section_stream.h"
#include "script/script.h"

namespace {

constexpr int kInfoBufferSize = 500;

const char* message_for(PtFault fault) {
  switch (fault) {
    case PtFault::kNoQuitRecord: return msg::kCorrupted10_2;
    case PtFault::kBinaryTooShort:
    case PtFault::kChunkEndless:
    case PtFault::kChunkOverflow:
    case PtFault::kEraseEndless: return msg::kCorrupted10_4;
    default: return msg::kCorrupted10_1;
  }
}

// Reads the header and checks the whole package. Returns 0 when it may run.
int read_and_check(Updater& u, FILE* file) {
  size_t got = fread(u.pkg.pt_header, 1, kPtHeaderSize, file);
  if (pt_magic(u.pkg.pt_header) != kPtMagic || got != static_cast<size_t>(kPtHeaderSize)) {
    printf_color(u.os, kColourRed, msg::kCorrupted10_1);
    return 1;
  }
  PackageCheck check = validate_package(u.pkg.pt_header, file);
  if (check.fault == PtFault::kNone) return 0;
  printf_color(u.os, kColourRed, "%s", message_for(check.fault));
  return 1;
}

int run_command_section(Updater& u, const SectionRecord& rec, FILE* file, int* selection) {
  char text[kDataSize] = {};
  if (fread(text, 1, rec.length, file) != rec.length) {
    printf_color(u.os, kColourRed, msg::kCorrupted10_1);
    return 1;
  }
  if (strncmp(rec.kind, "mcmd", 4) == 0) {
    printf_color(u.os, kColourGreen, msg::kMachineCmd, text);
    if (open_machine(u, selection) != 0) return 1;
    if (visa_write(u, text) != 0) return 1;
    usb_close(u);
    return 0;
  }
  if (strncmp(rec.kind, "scmd", 4) == 0) {
    printf_color(u.os, kColourGreen, msg::kSystemCmd, text);
    SystemCmd(u.os, text);
    return 0;
  }
  printf_color(u.os, kColourRed, msg::kCorrupted10_6);
  return 1;
}

// The per-file settings of a firmware section come from its record.
void apply_record(Updater& u, const SectionRecord& rec) {
  FileSettings& upd = u.upd;
  copy_text(upd.jump_boot, sizeof upd.jump_boot, rec.jump_command);
  if (rec.command_header[0] != '\0') {
    copy_text(upd.des_data, sizeof upd.des_data, rec.command_header);
    upd.headerlen = static_cast<int>(append_text(upd.des_data, sizeof upd.des_data, " "));
    upd.i488_en = 1;
  } else {
    upd.des_data[0] = '\0';
    upd.headerlen = 0;
    upd.i488_en = 0;
  }
  upd.binary = rec.binary;
  upd.mode = section_mode(rec.flags);
  copy_text(upd.boot_version, sizeof upd.boot_version, rec.boot_version);
  copy_text(upd.HW_version, sizeof upd.HW_version, rec.kind);
}

int run_firmware_section(Updater& u, const SectionRecord& rec, FILE* file, int* selection,
                         int attempt) {
  reset_setting(u);
  if (open_machine(u, selection) != 0) return 1;
  apply_record(u, rec);
  int r = section_kind(rec.flags) == SectionKind::kBinary
              ? update_bin(u, *selection, attempt, rec.length, file)
              : update_img(u, *selection, attempt, rec.length, file);
  if (r != 0) return 1;
  usb_close(u);
  return 0;
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

// The part of a version before its first '.'.
void major_of(const char* version, char* out, size_t out_size) { field(version, '.', out, out_size); }

// One section entry "index#name#version#hardware" at p, for record n.
// Returns 0 when it matches, else its mismatch code; *next is the cursor
// after its ',' or nullptr at the end of the reply.
int check_section_entry(Updater& u, int n, const char* p, const char** next) {
  char name[kInfoBufferSize], version[kInfoBufferSize], hardware[kInfoBufferSize];
  const char* name_end = field(p, '#', name, sizeof name);
  if (name_end == nullptr) return kInfoUnreadable;
  const char* version_end = field(name_end + 1, '#', version, sizeof version);
  if (version_end == nullptr) return kInfoUnreadable;
  const char* hardware_end = field(version_end + 1, ',', hardware, sizeof hardware);

  SectionRecord rec = pt_record(u.pkg.pt_header, n);
  char reply_major[kInfoBufferSize], package_major[kInfoBufferSize];
  major_of(version, reply_major, sizeof reply_major);
  major_of(rec.boot_version, package_major, sizeof package_major);
  if (strstr(reply_major, package_major) == nullptr) return kInfoVersionMismatch + n;
  if (strstr(hardware, rec.kind) == nullptr) return kInfoHardwareMismatch + n;
  *next = hardware_end != nullptr ? hardware_end + 1 : nullptr;
  return 0;
}

// Walks the info reply: section entries until a device entry or the end.
int walk_info(Updater& u, const char* reply) {
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
      return strncmp(code, package_code, kDeviceCodeSize) == 0 ? 0 : kInfoDeviceMismatch;
    }
    if (index < 0 || index >= kSectionCount) return kInfoUnreadable;
    int r = check_section_entry(u, index, hash + 1, &cursor);
    if (r != 0) return r;
  }
  return 0;
}

}  // namespace

int ask_info(Updater& u) {
  char query[kInfoBufferSize] = "*idn?\n";
  if (visa_query(u, query, query, 6, 0) != 0) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed3);
    return kInfoQueryFailed;
  }
  if (query[0] == 'f') {
    printf_color(u.os, kColourRed, msg::kNoIdn);
    return 0;
  }
  strcpy(query, "syst:info?\n");
  if (visa_query(u, query, query, 11, 1) != 0) {
    printf_color(u.os, kColourRed, msg::kNoInfo1);
    return 0;
  }
  if (query[0] == 'f') {
    printf_color(u.os, kColourRed, msg::kNoInfo2);
    return 0;
  }
  return walk_info(u, query);
}

int UpdatePt(Updater& u, int selection, int attempt, FILE* file) {
  if (read_and_check(u, file) != 0) return 1;
  if (open_machine(u, &selection) != 0) return 1;
  int r = ask_info(u);
  if (r != 0) {
    if (r > 0) printf_color(u.os, kColourRed, msg::kCorrupted9, r);
    return 1;
  }
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
    if (failed != 0) return 1;
  }
  return 0;
}

int package_job(Updater& u, const char* path, int selection) {
  FILE* file = open_job_file(u, path);
  if (file == nullptr) return 1;
  int result = UpdatePt(u, selection, 0, file);
  UP_CLOSE(u, file);
  if (result != 0) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed8);
    pause(u.os);
    return 1;
  }
  return 0;
}
