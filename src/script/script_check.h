// The check of an update script before anything of it runs: what its
// directives set, where its transfer commands are, and every line a run
// would refuse, with its line number and the message the run prints. The
// updater's --check and the tmscript tool use it; nothing is printed or
// sent.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "base/finding.h"

// The settings in force at a transfer command: what the bootloader
// handshake there uses and which versions it accepts.
struct TransferPoint {
  int line = 0;
  int mode = 0;        // bootloader-entry mode
  int comm_reset = 0;
  int jump_dealy = 0;  // ms before the reconnect
  std::string jump_boot;
  std::string boot_version;  // accepted bootloader version ("" accepts any)
  std::string main_version;  // accepted main-firmware versions
  std::string HW_version;    // accepted hardware versions
};

struct ScriptCheck {
  int lines = 0;            // lines of the file
  int text_commands = 0;    // command lines sent as text, transfer commands included
  int binary_commands = 0;  // command lines sent as binary frames
  std::string version;      // the target version of the last "v" directive
  std::string cmd_header;   // the command header of the last "h" directive
  std::vector<TransferPoint> transfers;
  int mode_after = 0;  // the entry mode the next script or section starts from
  std::vector<Finding> findings;  // in line order; faults have the run's message
};

// Reads the script open in file from its start, as the first attempt of a
// run reads it: the directives set the per-file settings from their
// defaults, with the entry mode mode that the job before left (the mode
// survives from one script or package section to the next). Every command
// line is framed as program_cmd would frame it; a line it would refuse is
// a fault with its line number and message ("Corrupted Update File. (2)"
// in text mode, "(1)" in binary mode, "(3)" for a transfer command in an
// entry mode outside 0..3). Unknown directive letters, a malformed "u"
// value and a file that cannot be read are warnings (the run goes on
// over them). The file is left at its end.
ScriptCheck check_script(FILE* file, int mode);
