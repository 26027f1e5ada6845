// The description file of `tmflash --visa=sim:FILE` (and of the simulator
// library through the environment variable TMFLASH_SIM): which simulated
// instruments are connected, what they answer and which faults they show.
//
// Format. A text file of lines:
//   # comment            "#" as the first non-blank character; a "#" later
//                        in a line is part of the value (version texts hold it)
//   [instrument NAME]    starts the block of one instrument; NAME (optional,
//                        default sim0, sim1, ...) names it in the transcript
//   key = value          blanks around key and value are dropped
// Blank lines are ignored; line ends may be LF or CR LF. A key may be given
// once per block. Text values take the escapes \n \r \t \\ and \xNN (two hex
// digits); write a leading or trailing blank as \x20. Numbers are decimal or
// 0x-hex; lists are numbers separated by commas; flags are yes/no (or
// true/false, 1/0).
//
// Keys before the first block apply to the whole simulator:
//   transcript = PATH      append the one-line-per-call transcript to PATH
//                          (relative to the current directory) as calls happen;
//                          PATH is taken as written, without escapes
//   flash_file = PATH      whenever an image is complete (x$), write to PATH
//                          the flash each bootloader has programmed so far:
//                          one line "NAME 0xADDRESS HEXBYTES" per run of
//                          programmed bytes, read back from the flash; PATH
//                          is taken as written. With "{name}" in PATH, each
//                          instrument's flash goes to a file of its own,
//                          "{name}" replaced by its NAME, when its image
//                          completes
//   keep_transcript = FLAG keep every call in memory too, for a program that
//                          runs the simulator in-process and reads it [no]
//   keep_commands = FLAG   keep every command the bootloaders decode in
//                          memory, likewise [no]
//   empty_searches = N     the first N searches find no instrument at all
//   fail_open = N, ...     the N-th viOpen call fails (VI_ERROR_RSRC_BUSY)
//   fail_write = N, ...    the N-th viWrite call fails (VI_ERROR_IO)
//   fail_read = N, ...     the N-th viRead call fails (VI_ERROR_IO)
//   timeout_read = N, ...  the N-th viRead call times out (VI_ERROR_TMO)
//   fail_rm_open = N, ...  the N-th viOpenDefaultRM call fails (VI_ERROR_SYSTEM_ERROR)
//   fail_search = N, ...   the N-th viFindRsrc call finds nothing (VI_ERROR_RSRC_NFOUND)
//   fail_control_in = N, ...   the N-th viUsbControlIn call fails (VI_ERROR_IO)
//   fail_control_out = N, ...  the N-th viUsbControlOut call fails (VI_ERROR_IO);
//                          a jump request lost this way makes no jump
//   fail_from = N          from the N-th VISA call on (the ten functions counted
//                          together) every call fails and reaches nothing: a
//                          pulled cable or a killed updater; the instruments
//                          keep their state and flash
// (call numbers count from 1 over the simulator's lifetime, all instruments)
//
// Keys of an instrument block (default in brackets):
//   main = RSRC            resource string of the main firmware (required)
//   bootloader = RSRC      resource string of the bootloader [= main]
//   main_idn = TEXT        reply to *IDN? in main firmware [TMSIM,TM1000,SIM0001,1.03\n]
//   boot_idn = TEXT        reply to *IDN? in the bootloader; the updater knows
//                          the bootloader by its "boot" [boot,TM1000,SIM0001,2.05\n]
//   boot_version = TEXT    reply to the bootloader-version query [2.05#0#HW3]
//   main_version = TEXT    reply to the main-version query [1.03\n]
//   syst_info = TEXT       reply to syst:info? [0#main#2.10#HW3,-1#SIM1000#\n]
//   main_control_in = TEXT control-IN reply in main firmware [mf_1.03]
//   boot_control_in = TEXT control-IN reply in the bootloader [bt_2.05]
//   jump = TEXT            the jump command, matched exactly; empty: none [SYST:BOOT]
//   control_jump = FLAG    vendor requests 0x40 / 0x41 make it jump [yes]
//   reboot_ms = N          time from the jump until the bootloader is there [1500]
//   start = main|bootloader  what runs at the start [main]
//   echo_suffix = TEXT     sent after the letter of an echo [\n]
//   erase_block = N        bytes one erase command clears, 1 .. 0x1000000 [0x1000]
//   flash_fill = N         content of flash never erased, 0 .. 255 [0]
//   flash_model = FLAG     keep a flash memory that erase and data commands
//                          change; with no, they change nothing, the flash
//                          reads as flash_fill and costs no memory (for
//                          measuring with large images) [yes]
//   wrong_echo_first = N   the first N echoes carry a wrong letter ("!")
//   wrong_echo_at = N, ... these echoes (counted from 1) carry a wrong letter
//   never_back = FLAG      after a jump the instrument never comes back [no]
//   late_ms = N            after a jump it comes back N ms after its reboot time [0]
//
// A file without any block describes a computer with no instrument connected.
// Errors are reported as one line: "FILE:LINE: reason".
#pragma once

#include <string>
#include <string_view>

#include "visa/sim/sim_config.h"

namespace sim {

// Parses the text of a description file; file_name appears in messages. On
// success fills *out and returns true. On failure returns false and sets
// *error to "FILE:LINE: reason".
bool parse_sim_description(std::string_view text, std::string_view file_name, SimConfig* out,
                           std::string* error);

// Reads and parses the file at path. On failure *error is one line that names
// the file (and the line, for a parse error).
bool load_sim_description(const std::string& path, SimConfig* out, std::string* error);

}  // namespace sim
