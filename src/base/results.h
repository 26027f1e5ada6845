// The result codes that the updater's operations hand to their callers, in
// one place. The numbers are the contract between the layers and are kept as
// they are: tests and callers compare them, and a few of them reach the
// operator inside a message ("Corrupted Update File. (9-%d)").
//
// The rule for all of them: 0 is success; 1 is a failure that has already
// been reported to the operator (its message printed and, where the
// function's header says so, the operator paused for). A caller hands 1 on
// without printing again, so each failure is reported once, where it was
// found.
#pragma once

constexpr int kOk = 0;
constexpr int kFailed = 1;  // reported; pass it on without printing again

// program_cmd: one device command.
constexpr int kCommandDone = kOk;
constexpr int kCommandFailed = kFailed;  // reported and paused for
constexpr int kCommandWrongEcho = 2;     // the reply did not begin with the command letter

// The probes of the running firmware and the version queries.
constexpr int kProbeMain = 0;        // the main firmware answers
constexpr int kProbeBootloader = 1;  // the bootloader answers
constexpr int kQueryFailed = 3;      // a version query or identity probe failed (reported)
constexpr int kProbeRefused = 4;     // run_probe: the reply began with "f" (reported)

// write_machine_command, besides 0 and 1 (the open failed, paused for).
constexpr int kMachineWriteFailed = 2;  // the write failed: reported, sessions closed, not paused for

// ask_info: the package's compatibility check, besides 0 (compatible, or no
// check possible).
constexpr int kInfoQueryFailed = -1;       // "*idn?" failed, reported
constexpr int kInfoDeviceMismatch = 1;     // the device code differs
constexpr int kInfoUnreadable = 2;         // the info reply is outside its grammar
constexpr int kInfoVersionMismatch = 16;   // + the section index
constexpr int kInfoHardwareMismatch = 32;  // + the section index

// parser(): the list-file line holds nothing to apply. Any other result is
// the index of the line's last '='.
constexpr int kSkipLine = 0xFFFF;
