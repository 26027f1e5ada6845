// tmflash --check LIST_FILE: reads the list file and every script and
// package it names exactly as a run would, touches no instrument, loads no
// VISA and runs no shell command, and prints what the run would do and
// every fault it would meet. Release pipelines run it on every build of an
// update package, so its output is kept stable (README, "Checking update
// files before a release").
//
// Output, one item a line, plain text (coloured only on a terminal):
//   list "PATH": total=N delay=MS list_pause=N debug_mode=N usb_address="EXPR"
//   job N: scmd "TEXT"                      a shell command
//   job N: mcmd "TEXT"                      a command written to the instrument
//   job N: path "FILE" lines=N text_commands=N binary_commands=N version="V" command_header="H"
//          checksum=ok|bad|none
//     line N: transfer mode=M comm_reset=C delay=MS jump="J" boot="B" main="M" hw="H"
//   job N: pt "FILE" bytes=N trailer=ok|bad|none device_code="D" b_argument=0xN run_order=R,R,...
//     section N: type=command kind="K" at=OFFSET length=N text="TEXT"
//     section N: type=binary|framed mode=M binary_flag=F at=OFFSET length=N boot_version="B"
//                hardware="H" jump_command="J" command_header="C" ... erases=N erase=A..B writes=A+N,...
//   PLACE: fault [MESSAGES]: TEXT           PLACE is FILE:LINE, FILE: byte N, or FILE
//   PLACE: warning: TEXT
//   check: faults=N warnings=N
// Texts are quoted with \" \\ \n \r \t \xNN escapes; numbers are decimal
// except addresses and the b-command argument (0x, upper case).
#pragma once

#include "package/package_updater.h"
#include "platform/platform.h"

// Checks the list file at list_path and the files it names; prints on
// standard output through os. Returns the exit status: 0 when a run would
// meet no fault (warnings allowed), 1 otherwise. Scripts and packages are
// opened as the run opens them: relative to the working directory. rules
// are the run's (--strict, --no-verify): what they make a run refuse is a
// fault; a script checksum that --no-verify lets pass is a warning.
int check_list(Platform& os, const char* list_path, const IntegrityRules& rules = IntegrityRules{});
