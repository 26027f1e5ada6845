#include "script/version_query.h"

#include <cstring>

#include "script/encoding.h"

namespace {

constexpr char kVersionLetter = 'r';
constexpr int kLetterCodeR = 8;  // position of 'r' in the command letters
static_assert(idx_list[kLetterCodeR] == kVersionLetter);

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
// command's frame, behind the header prefix.
VersionQuery build_version_query(FileSettings& upd, bool with_payload) {
  char* frame = upd.des_data;
  char prefix = transfer_prefix(upd, frame);
  char* at = frame + upd.headerlen;
  if (upd.binary) {
    int frame_length = with_payload ? 5 : 3;
    int h = SetI488Header(upd, at, frame_length);
    char* q = at + h;
    q[0] = prefix;
    q[1] = static_cast<char>(kLetterCodeR);
    if (with_payload) {
      q[2] = '#';
      q[3] = 0x00;
      q[4] = '$';
    } else {
      q[2] = '$';
    }
    return {frame, upd.headerlen + h + frame_length};
  }
  const char* command = with_payload ? "r#00$\"" : "r$\"";
  at[0] = '"';
  at[1] = prefix;
  strcpy(at + 2, command);
  return {frame, upd.headerlen + 2 + static_cast<int>(strlen(command))};
}

}  // namespace

VersionQuery get_bootloader_version(FileSettings& upd) { return build_version_query(upd, false); }

VersionQuery get_main_version(FileSettings& upd) { return build_version_query(upd, true); }

VersionRules version_rules(const FileSettings& upd) {
  return {upd.boot_version, upd.HW_version, upd.main_version};
}
