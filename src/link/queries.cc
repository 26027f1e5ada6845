#include "link/queries.h"

#include <cstdio>
#include <cstring>

#include "base/text.h"
#include "driver/console.h"
#include "messages.h"
#include "script/encoding.h"

namespace {

constexpr char kLetterCodeR = 0x08;  // position of 'r' in the command letters

bool accepts_all(const char* setting) { return setting[0] == '\0' || starts_with(setting, "ALL"); }

// The prefix character of the transfer command whose frame lies in frame:
// behind the quote in text mode, behind the block header (if any) in binary
// mode.
char transfer_prefix(const FileSettings& upd, const char* frame) {
  const char* at = frame + upd.headerlen;
  if (!upd.binary) return at[1];
  if (upd.i488_en && at[0] == '#' && at[1] >= '1' && at[1] <= '9') return at[2 + (at[1] - '0')];
  return at[0];
}

// Writes the query "r" (with payload 00 when with_payload) over the transfer
// command's frame, behind the header prefix. Returns the bytes to send.
int build_version_query(FileSettings& upd, char* frame, bool with_payload) {
  char prefix = transfer_prefix(upd, frame);
  char* at = frame + upd.headerlen;
  if (upd.binary) {
    int frame_length = with_payload ? 5 : 3;
    int h = SetI488Header(upd, at, frame_length);
    char* q = at + h;
    q[0] = prefix;
    q[1] = kLetterCodeR;
    if (with_payload) {
      q[2] = '#';
      q[3] = 0x00;
      q[4] = '$';
    } else {
      q[2] = '$';
    }
    return upd.headerlen + h + frame_length;
  }
  const char* command = with_payload ? "r#00$\"" : "r$\"";
  at[0] = '"';
  at[1] = prefix;
  strcpy(at + 2, command);
  return upd.headerlen + 2 + static_cast<int>(strlen(command));
}

int version_query(Updater& u, char* frame, char* reply, bool with_payload) {
  int length = build_version_query(u.upd, frame, with_payload);
  if (visa_query(u, frame, reply, length, 1) != 0) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed1);
    return kQueryFailed;
  }
  return 0;
}

// The text before the first '.', as "%[^.]" reads it (empty when the text
// begins with '.').
void major_part(const char* version, char* out /* kReplySize */) {
  out[0] = '\0';
  sscanf(version, "%100[^.]", out);
}

}  // namespace

int visa_query(Updater& u, const char* frame, char* reply, int length, int report) {
  LinkState& link = u.link;
  link.status = u.visa->viWrite(link.vi, reinterpret_cast<const unsigned char*>(frame),
                                static_cast<ViUInt32>(length), &link.retCnt);
  if (link.status != VI_SUCCESS) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed5);
    return 1;
  }
  link.retCnt = 0;
  link.status = u.visa->viRead(link.vi, reinterpret_cast<unsigned char*>(reply), kReplyMax,
                               &link.retCnt);
  // A library that claims more than it was allowed must not move the NUL
  // past the buffer.
  reply[link.retCnt <= kReplyMax ? link.retCnt : kReplyMax] = '\0';
  if (link.status != VI_SUCCESS) {
    if (report) printf_color(u.os, kColourRed, msg::kDeviceFailed6);
    return 1;
  }
  return 0;
}

int visa_write(Updater& u, const char* text) {
  LinkState& link = u.link;
  link.status = u.visa->viWrite(link.vi, reinterpret_cast<const unsigned char*>(text),
                                static_cast<ViUInt32>(strlen(text)), &link.retCnt);
  if (link.status == VI_SUCCESS) return 0;
  printf_color(u.os, kColourRed, msg::kDeviceFailed5);
  u.visa->viClose(link.defaultRM);
  u.visa->viClose(link.vi);
  return 1;
}

int main_now_version(Updater& u, int attempt) {
  char reply[kReplySize];
  if (visa_query(u, kIdnQuery, reply, 6, 1) != 0) return kQueryFailed;
  if (reply[0] == 'f') {
    printf_color(u.os, kColourRed, msg::kDeviceFailed4);
    return kQueryFailed;
  }
  if (attempt == 0) printf_plain(u.os, msg::kMainIdn, reply);
  return starts_with(reply, "boot") ? kProbeBootloader : kProbeMain;
}

int comm_now_version(Updater& u, int attempt) {
  unsigned char reply[11] = {};
  ViUInt16 count = 0;
  u.link.status = u.visa->viUsbControlIn(u.link.vi, 0xC0, 0, 0, 0, 10, reply, &count);
  // A failed request received nothing, whatever the buffer now holds: take
  // it as empty, which means "not the bootloader" and leads to the jump.
  if (u.link.status != VI_SUCCESS) memset(reply, 0, sizeof reply);
  reply[10] = '\0';
  const char* text = reinterpret_cast<const char*>(reply);
  if (u.link.status == VI_SUCCESS && attempt == 0) printf_plain(u.os, msg::kNowVersion, text);
  return starts_with(text, "bt_") ? kProbeBootloader : kProbeMain;
}

int ask_idn(Updater& u) {
  char reply[kReplySize];
  if (visa_query(u, kIdnQuery, reply, 6, 1) != 0) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed3);
    return 1;
  }
  if (reply[0] == 'f') {
    printf_color(u.os, kColourRed, msg::kDeviceFailed4);
    return 1;
  }
  if (starts_with(reply, "boot")) {
    printf_color(u.os, kColourRed, msg::kDeviceFailed2);
    return 1;
  }
  return 0;
}

int get_bootloader_version(Updater& u, char* frame, char* reply) {
  return version_query(u, frame, reply, false);
}

int get_main_version(Updater& u, char* frame, char* reply) {
  return version_query(u, frame, reply, true);
}

int Bootloader_version(Updater& u, char* frame) {
  char reply[kReplySize];
  if (get_bootloader_version(u, frame, reply) != 0) return kQueryFailed;
  printf_plain(u.os, msg::kBootloaderVersion, reply);

  char boot[kReplySize] = {}, flag[kReplySize] = {}, hardware[kReplySize] = {};
  sscanf(reply, "%100[^#]#%100[^#]#%100s", boot, flag, hardware);

  char reply_major[kReplySize], wanted_major[kReplySize];
  major_part(boot, reply_major);
  major_part(u.upd.boot_version, wanted_major);
  if (!accepts_all(u.upd.boot_version) && strcmp(reply_major, wanted_major) != 0) {
    printf_color(u.os, kColourRed, msg::kNotSupportBootloader1, hardware, boot);
    return 1;
  }

  hardware[strcspn(hardware, "#")] = '\0';
  size_t n = strlen(hardware);
  if (n > 0 && hardware[n - 1] == '\n') hardware[n - 1] = '\0';
  if (!accepts_all(u.upd.HW_version) && strstr(u.upd.HW_version, hardware) == nullptr) {
    printf_color(u.os, kColourRed, msg::kNotSupportBootloader2, hardware, boot);
    return 1;
  }

  if (flag[0] != '0') {
    printf_color(u.os, kColourRed, msg::kBootloaderNotRelease);
    pause(u.os);
  }
  return 0;
}

int MAIN_version(Updater& u, char* frame) {
  if (accepts_all(u.upd.main_version)) return 0;
  // A comma, the reply (up to 100 bytes and its NUL), a comma.
  char text[1 + kReplySize + 1] = ",";
  if (get_main_version(u, frame, text + 1) != 0) return kQueryFailed;
  size_t n = strlen(text);
  if (text[n - 1] == '\n') text[--n] = '\0';
  text[n] = ',';
  text[n + 1] = '\0';
  if (strstr(u.upd.main_version, text) == nullptr) {
    printf_color(u.os, kColourRed, msg::kMainVersionUnsupported);
    return 1;
  }
  return 0;
}
