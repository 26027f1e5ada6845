#include "link/queries.h"

#include <cstdio>
#include <cstring>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "base/text.h"
#include "link/usb_requests.h"

namespace {

// The identity probes: "*IDN?" with the read failure reported; a reply
// beginning "f" is message (4).
constexpr Probe kIdnProbe{kIdnQuery, kIdnQueryLength, kReportReadFailure, nullptr, msg::kDeviceFailed4};
constexpr Probe kAskIdnProbe{kIdnQuery, kIdnQueryLength, kReportReadFailure, msg::kDeviceFailed3,
                             msg::kDeviceFailed4};

// Tells the run's watcher what the instrument answered to query; the name
// is the query without its line end.
void note_reply(InstrumentLink& u, const char* query, const char* reply) {
  if (u.observer == nullptr) return;
  char name[kReplySize];
  copy_text(name, sizeof name, query);
  name[strcspn(name, "\n")] = '\0';
  u.observer->version_read(name, reply);
}

}  // namespace

int visa_query(InstrumentLink& u, const char* frame, char* reply, int length, int report) {
  LinkState& link = u.link;
  link.status = u.visa->viWrite(link.vi, reinterpret_cast<const unsigned char*>(frame),
                                static_cast<ViUInt32>(length), &link.retCnt);
  if (link.status != VI_SUCCESS) return report_failure(u.os, msg::kDeviceFailed5);
  link.retCnt = 0;
  link.status = u.visa->viRead(link.vi, reinterpret_cast<unsigned char*>(reply), kReplyMax,
                               &link.retCnt);
  // A library that claims more than it was allowed must not move the NUL
  // past the buffer.
  reply[link.retCnt <= kReplyMax ? link.retCnt : kReplyMax] = '\0';
  if (link.status != VI_SUCCESS) {
    if (report == kReportReadFailure) printf_color(u.os, kColourRed, msg::kDeviceFailed6);
    return kFailed;
  }
  return kOk;
}

int visa_write(InstrumentLink& u, const char* text) {
  LinkState& link = u.link;
  link.status = u.visa->viWrite(link.vi, reinterpret_cast<const unsigned char*>(text),
                                static_cast<ViUInt32>(strlen(text)), &link.retCnt);
  if (link.status == VI_SUCCESS) return kOk;
  printf_color(u.os, kColourRed, msg::kDeviceFailed5);
  u.visa->viClose(link.defaultRM);
  u.visa->viClose(link.vi);
  return kFailed;
}

int run_probe(InstrumentLink& u, const Probe& probe, char* reply) {
  if (visa_query(u, probe.query, reply, probe.length, probe.report) != kOk) {
    if (probe.failed != nullptr) printf_color(u.os, kColourRed, "%s", probe.failed);
    return kQueryFailed;
  }
  note_reply(u, probe.query, reply);
  if (reply[0] != 'f') return kOk;
  printf_color(u.os, kColourRed, "%s", probe.refused);
  return kProbeRefused;
}

int main_now_version(InstrumentLink& u, int attempt) {
  char reply[kReplySize];
  if (run_probe(u, kIdnProbe, reply) != kOk) return kQueryFailed;
  if (attempt == 0) printf_plain(u.os, msg::kMainIdn, reply);
  return starts_with(reply, "boot") ? kProbeBootloader : kProbeMain;
}

int comm_now_version(InstrumentLink& u, int attempt) {
  unsigned char reply[kProbeReplyLength + 1] = {};
  ViUInt16 count = 0;
  u.link.status = u.visa->viUsbControlIn(u.link.vi, kRequestFromDevice, 0, 0, 0, kProbeReplyLength,
                                         reply, &count);
  // A failed request received nothing, whatever the buffer now holds: take
  // it as empty, which means "not the bootloader" and leads to the jump.
  if (u.link.status != VI_SUCCESS) memset(reply, 0, sizeof reply);
  reply[kProbeReplyLength] = '\0';
  const char* text = reinterpret_cast<const char*>(reply);
  if (u.link.status == VI_SUCCESS) note_reply(u, "control-in", text);
  if (u.link.status == VI_SUCCESS && attempt == 0) printf_plain(u.os, msg::kNowVersion, text);
  return starts_with(text, "bt_") ? kProbeBootloader : kProbeMain;
}

int ask_idn(InstrumentLink& u) {
  char reply[kReplySize];
  if (run_probe(u, kAskIdnProbe, reply) != kOk) return kFailed;
  if (starts_with(reply, "boot")) return report_failure(u.os, msg::kDeviceFailed2);
  return kOk;
}

bool accepts_any(const char* accepted) { return accepted[0] == '\0' || starts_with(accepted, "ALL"); }

int version_query(InstrumentLink& u, const VersionQuery& query, char* reply) {
  if (visa_query(u, query.frame, reply, query.length, kReportReadFailure) != kOk) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed1);
    return kQueryFailed;
  }
  return kOk;
}

int Bootloader_version(InstrumentLink& u, const VersionQuery& query, const VersionRules& rules) {
  char reply[kReplySize];
  if (version_query(u, query, reply) != kOk) return kQueryFailed;
  note_reply(u, "bootloader version", reply);
  printf_plain(u.os, msg::kBootloaderVersion, reply);

  char boot[kReplySize] = {}, flag[kReplySize] = {}, hardware[kReplySize] = {};
  sscanf(reply, "%100[^#]#%100[^#]#%100s", boot, flag, hardware);

  char reply_major[kReplySize], wanted_major[kReplySize];
  major_part(boot, reply_major, sizeof reply_major);
  major_part(rules.boot_version, wanted_major, sizeof wanted_major);
  if (!accepts_any(rules.boot_version) && strcmp(reply_major, wanted_major) != 0) {
    return report_failure(u.os, msg::kNotSupportBootloader1, hardware, boot);
  }

  hardware[strcspn(hardware, "#")] = '\0';
  size_t n = strlen(hardware);
  if (n > 0 && hardware[n - 1] == '\n') hardware[n - 1] = '\0';
  if (!accepts_any(rules.HW_version) && strstr(rules.HW_version, hardware) == nullptr) {
    return report_failure(u.os, msg::kNotSupportBootloader2, hardware, boot);
  }

  if (flag[0] != '0') {
    printf_color(u.os, kColourRed, msg::kBootloaderNotRelease);
    pause(u.os);
  }
  return kOk;
}

int MAIN_version(InstrumentLink& u, const VersionQuery& query, const VersionRules& rules) {
  if (accepts_any(rules.main_version)) return kOk;
  // A comma, the reply (up to 100 bytes and its NUL), a comma.
  char text[1 + kReplySize + 1] = ",";
  if (version_query(u, query, text + 1) != kOk) return kQueryFailed;
  note_reply(u, "main version", text + 1);
  size_t n = strlen(text);
  if (text[n - 1] == '\n') text[--n] = '\0';
  text[n] = ',';
  text[n + 1] = '\0';
  if (strstr(rules.main_version, text) == nullptr) return report_failure(u.os, msg::kMainVersionUnsupported);
  return kOk;
}
