// The per-file update settings and the command buffers. Directives of an
// update script or the record of a package section set them; reset_setting()
// clears them before every script and every firmware section.
#pragma once

constexpr int kDataSize = 2000;          // src_data and des_data
constexpr int kVersionSize = 30;
constexpr int kShortTextSize = 50;       // company, jump_boot, cmd_header
constexpr int kAcceptedVersionSize = 100;  // boot_version, main_version, HW_version

// The bootloader-entry modes (mode), named by the jump each makes.
constexpr int kModePanelJump = 0;   // probe by "*IDN?", panel_jump_boot
constexpr int kModeCommJump = 1;    // probe by the control-IN request, comm_jump_boot
constexpr int kModeOtherJump2 = 2;  // probe by ask_idn, other_jump_boot
constexpr int kModeOtherJump3 = 3;  // the same entry as mode 2

struct FileSettings {
  char src_data[kDataSize] = {};  // the command line, then the instrument's reply
  char des_data[kDataSize] = {};  // command header prefix, then the frame being sent
  int headerlen = 0;   // bytes of the command header and its space at the start of des_data
  int i488_en = 0;     // a command header is present
  int binary = 0;      // commands go out as binary frames
  int mode = 0;        // bootloader-entry mode 0..3; survives reset_setting
  int comm_reset = 0;  // mode 0: follow the jump command with a control request
  char version[kVersionSize] = {};
  char company[kShortTextSize] = {};
  char jump_boot[kShortTextSize] = {};
  char cmd_header[kShortTextSize] = {};
  char boot_version[kAcceptedVersionSize] = {};
  char main_version[kAcceptedVersionSize] = {};
  char HW_version[kAcceptedVersionSize] = {};
};
