#include "script/command.h"

#include <cstring>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "base/text.h"
#include "link/bootloader_entry.h"
#include "link/queries.h"
#include "link/session.h"
#include "script/encoding.h"
#include "script/version_query.h"

namespace {

// Why the text-mode check refuses a line, by its fault code 1..5.
const char* check_fault_text(int fault) {
  switch (fault) {
    case 1: return "it is shorter than 3 characters";
    case 2: return "its second character is not a command letter";
    case 3: return "its third character is none of '$', '#', '@'";
    case 4: return "a payload pair is not two hex digits, or its '$' is missing";
    default: return "nothing follows its marker";
  }
}

constexpr char kDoesNotFit[] = "behind the command header it does not fit the 2000-byte command buffer";

// Binary mode: packs line into frame (kDataSize bytes). Returns the frame
// length, or -1 with *why when it cannot go out behind headerlen bytes of
// header and the longest block header.
int pack_frame(const char* line, int headerlen, char* frame, const char** why) {
  int f = TransBytesData(line, frame, kDataSize);
  if (f < 0) {
    *why = strnlen(line, 3) < 3 ? check_fault_text(1) : "it ends before its '$'";
    return -1;
  }
  if (headerlen + kI488HeaderMax + f > kDataSize) {
    *why = kDoesNotFit;
    return -1;
  }
  return f;
}

// Text mode: checks line and cuts it right after its '$'. Returns its
// length, or -1 with *why when it is refused or would not fit behind
// headerlen bytes of header, in quotes, with its NUL.
int check_line(char* line, int headerlen, const char** why) {
  int fault = CheckByteData(line);
  if (fault != 0) {
    *why = check_fault_text(fault);
    return -1;
  }
  int length = static_cast<int>(strlen(line));
  if (headerlen + length + 2 >= kDataSize) {
    *why = kDoesNotFit;
    return -1;
  }
  return length;
}

// Binary mode: header prefix, block header (with a command header only),
// frame. Returns the bytes to send, or -1 when the line cannot be framed.
int frame_binary(FileSettings& upd) {
  char frame[kDataSize];
  const char* why = nullptr;
  int f = pack_frame(upd.src_data, upd.headerlen, frame, &why);
  if (f < 0) return -1;
  int h = SetI488Header(upd, upd.des_data + upd.headerlen, f);
  if (h < 0) return -1;
  memcpy(upd.des_data + upd.headerlen + h, frame, static_cast<size_t>(f));
  return upd.headerlen + h + f;
}

// Text mode: header prefix, then the checked command line in double quotes.
// Returns the bytes to send, or -1 when the line is refused.
int frame_text(FileSettings& upd) {
  const char* why = nullptr;
  int line = check_line(upd.src_data, upd.headerlen, &why);
  if (line < 0) return -1;
  char* at = upd.des_data + upd.headerlen;
  at[0] = '"';
  memcpy(at + 1, upd.src_data, static_cast<size_t>(line));
  at[line + 1] = '"';
  at[line + 2] = '\0';
  return upd.headerlen + line + 2;
}

// The frames of a command built from its bytes; the same bytes and the same
// refusals as frame_text() and frame_binary() give for its command line.
// Returns the bytes to send, or -1.
int frame_built_text(FileSettings& upd, const char* head, const uint8_t* payload, int n) {
  int line = 3 + 2 * n + 1;
  if (upd.headerlen + line + 2 >= kDataSize) return -1;  // the NUL must fit too
  char* at = upd.des_data + upd.headerlen;
  at[0] = '"';
  memcpy(at + 1, head, 3);
  char* end = put_hex_pairs(payload, static_cast<size_t>(n), at + 4);
  memcpy(end, "$\"", 3);  // with the NUL
  return upd.headerlen + line + 2;
}

int frame_built_binary(FileSettings& upd, const char* head, const uint8_t* payload, int n) {
  int f = n + 4;
  if (upd.headerlen + kI488HeaderMax + f > kDataSize) return -1;
  int h = SetI488Header(upd, upd.des_data + upd.headerlen, f);
  if (h < 0) return -1;
  char* at = upd.des_data + upd.headerlen + h;
  at[0] = head[0];
  at[1] = static_cast<char>(get_index(head[1]));
  at[2] = head[2];
  if (n > 0) memcpy(at + 3, payload, static_cast<size_t>(n));  // payload may be null then
  at[3 + n] = '$';
  return upd.headerlen + h + f;
}

// Sends the frame of length bytes in des_data and checks the reply's letter.
int exchange(ScriptUpdater& u, int length, char letter) {
  FileSettings& upd = u.upd;
  if (visa_query(u, upd.des_data, upd.src_data, length, kReportReadFailure) != kOk) {
    pause(u.os);
    return kCommandFailed;
  }
  return upd.src_data[0] == letter ? kCommandDone : kCommandWrongEcho;
}

bool is_entry_mode(int mode) { return mode >= kModePanelJump && mode <= kModeOtherJump3; }

// Probes the instrument and makes it jump for the entry mode. Sets
// *in_bootloader when it already runs its bootloader (no jump made).
// Returns 0 to go on, kCommandFailed when the command has failed.
int probe_and_jump(ScriptUpdater& u, int attempt, bool* in_bootloader) {
  FileSettings& upd = u.upd;
  switch (upd.mode) {
    case kModePanelJump: {
      int probe = main_now_version(u, attempt);
      if (probe == kProbeBootloader) {
        *in_bootloader = true;
        return kOk;
      }
      if (probe != kProbeMain) {
        pause(u.os);
        return kCommandFailed;
      }
      return panel_jump_boot(u, upd.jump_boot, upd.src_data, upd.comm_reset) == kOk ? kOk : kCommandFailed;
    }
    case kModeCommJump:
      if (comm_now_version(u, attempt) == kProbeBootloader) {
        *in_bootloader = true;
      } else {
        comm_jump_boot(u, upd.src_data);
      }
      return kOk;
    case kModeOtherJump2:
    case kModeOtherJump3:
      if (ask_idn(u) != kOk) {
        pause(u.os);
        return kCommandFailed;
      }
      return other_jump_boot(u, upd.jump_boot) == kOk ? kOk : kCommandFailed;
    default:
      return report_failure_and_pause(u.os, msg::kCorrupted3);
  }
}

// The transfer command: probe, jump, reconnect, version checks.
int handshake(ScriptUpdater& u, int selection, int attempt) {
  bool in_bootloader = false;
  if (probe_and_jump(u, attempt, &in_bootloader) != kOk) return kCommandFailed;
  if (!in_bootloader && reconnect(u, &selection) != kOk) return kCommandFailed;
  const VersionRules rules = version_rules(u.upd);
  if (attempt == 0 && Bootloader_version(u, get_bootloader_version(u.upd), rules) != kOk) {
    pause(u.os);
    return kCommandFailed;
  }
  if (MAIN_version(u, get_main_version(u.upd), rules) != kOk) {
    pause(u.os);
    return kCommandFailed;
  }
  return kCommandDone;
}

}  // namespace

const char* framing_message(int binary) { return binary ? msg::kCorrupted1 : msg::kCorrupted2; }

CommandRefusal command_refusal(const char* line, const FileSettings& upd) {
  char copy[kDataSize];
  char frame[kDataSize];
  copy_text(copy, sizeof copy, line);
  CommandRefusal refusal;
  int framed = upd.binary ? pack_frame(copy, upd.headerlen, frame, &refusal.why)
                          : check_line(copy, upd.headerlen, &refusal.why);
  if (framed < 0) {
    refusal.message = framing_message(upd.binary);
  } else if (copy[1] == kTransferLetter && !is_entry_mode(upd.mode)) {
    refusal.message = msg::kCorrupted3;
    refusal.why = "a transfer command in an entry mode that does not exist (only 0 .. 3 do)";
    refusal.entry_mode = true;
  }
  return refusal;
}

int program_cmd(ScriptUpdater& u, int selection, int attempt) {
  FileSettings& upd = u.upd;
  char letter = upd.src_data[1];
  int length = upd.binary ? frame_binary(upd) : frame_text(upd);
  if (length < 0) return report_failure_and_pause(u.os, framing_message(upd.binary));
  if (letter == kTransferLetter) return handshake(u, selection, attempt);
  return exchange(u, length, letter);
}

int program_built_cmd(ScriptUpdater& u, int selection, int attempt, const char head[3], const uint8_t* payload,
                      int n) {
  FileSettings& upd = u.upd;
  // A data-carrying command of a known letter takes the short way; anything
  // else (the transfer command, whose handshake reads its command line, an
  // unknown letter, a "$" marker) goes through its command line.
  bool plain = head[1] != kTransferLetter && get_index(head[1]) >= 0 && (head[2] == '#' || head[2] == '@');
  if (!plain) {
    char raw[kDataSize];
    if (n + 4 > kDataSize) return report_failure_and_pause(u.os, framing_message(upd.binary));
    memcpy(raw, head, 3);
    if (n > 0) memcpy(raw + 3, payload, static_cast<size_t>(n));
    raw[3 + n] = '$';
    TranStrData(raw, upd.src_data, n + 4, kDataSize);
    return program_cmd(u, selection, attempt);
  }
  // Past this, TranStrData() would leave an empty line, which both framings refuse.
  bool line_fits = 2 * (n + 4) - 3 <= kDataSize;
  int length = !line_fits     ? -1
               : upd.binary ? frame_built_binary(upd, head, payload, n)
                            : frame_built_text(upd, head, payload, n);
  if (length < 0) return report_failure_and_pause(u.os, framing_message(upd.binary));
  return exchange(u, length, head[1]);
}
