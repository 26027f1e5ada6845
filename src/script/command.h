// Executing one device command: the command line in src_data is framed
// behind the command header in des_data, as text or as a binary frame, sent,
// and its reply checked. The transfer command "t" is never sent: it runs the
// bootloader handshake instead.
#pragma once

#include "base/results.h"
#include "script/script_updater.h"

constexpr char kTransferLetter = 't';

// Executes the command line in u.upd.src_data with the per-file settings
// (headerlen, i488_en, binary, mode, jump_boot). selection is the job's
// instrument choice; a choice made during a reconnect holds for this call
// only. attempt is the script attempt 0..3 (0 for packages).
// Returns kCommandDone when the reply began with the command letter, or when
// the handshake ended with accepted versions; kCommandWrongEcho (nothing
// printed) when the reply began with anything else; kCommandFailed after its
// message and a pause: "Corrupted Update File. (1)" (binary mode: the line
// ends before its "$" or its frame does not fit des_data), "(2)" (text
// mode: the line fails the syntax check or does not fit des_data), "(3)" (a
// transfer command with an entry mode outside 0..3), or the message of a
// failed exchange, probe, jump, reconnect or version check.
// Afterwards des_data holds the header and the frame, and src_data the reply
// (or the command line, for the transfer command).
int program_cmd(ScriptUpdater& u, int selection, int attempt);

// Executes the raw command head + the n bytes of payload + "$" (head: the
// prefix, the letter and the marker) that a section streamer built itself
// from image bytes: exactly what writing its command line into src_data (as
// TranStrData() does) and then program_cmd() would do, on the wire, on the
// console and in the result, but straight from the bytes. Its hex digits are
// written once, by table, and not read back and checked one by one as those
// of a line from a file are; a binary frame takes the bytes as they are.
// Afterwards des_data holds the header and the frame, and src_data the reply
// (the command line is not written there). n is 0 or more.
int program_built_cmd(ScriptUpdater& u, int selection, int attempt, const char head[3], const uint8_t* payload,
                      int n);

// The message program_cmd prints for a command line it cannot frame:
// "Corrupted Update File. (1)" in binary mode, "(2)" in text mode.
const char* framing_message(int binary);

// Why program_cmd would refuse a command line before sending anything.
struct CommandRefusal {
  const char* message = nullptr;  // the numbered message it prints; nullptr: it would go on
  const char* why = nullptr;      // what is wrong, in words
  bool entry_mode = false;        // a transfer command in an entry mode outside 0..3
};

// What program_cmd would refuse the command line for before anything is
// sent, found without an instrument: the framing behind the command header
// in the send mode of upd (binary, headerlen), or, for a transfer command,
// an entry mode (upd.mode) outside 0..3. line is the command line as it
// stands in src_data (NUL-terminated; whatever follows its '$' is ignored).
// The message is framing_message(upd.binary) for the framing ("its second
// character is not a command letter"), "Corrupted Update File. (3)" for the
// entry mode. Uses the same framing code as program_cmd; prints nothing,
// sends nothing.
CommandRefusal command_refusal(const char* line, const FileSettings& upd);
