// Reading an update script back into the readable source that tmscript
// compiles (script_writer.h), for people who receive a script and must see,
// check or change what is in it.
//
// Every directive the source can say is shown in its source form, its value
// unscrambled (@header, @jump, @boot, @main, @hw, @version, @company, @u,
// @checksum); command lines are copied unchanged. The lines a run would
// refuse, and what it reads oddly, get a note ("@# ...", which compiling
// skips) with the message the run prints, from the same check as
// tmflash --check (check_script).
//
// A directive line that its source form would not write back byte for byte
// (hex digits in lower case, a CR LF line end, a bad hex digit, a checksum
// that does not hold, an unknown letter ...) is kept as it stands, with a
// note saying what the run reads from it: the source form of a line is used
// only where it writes exactly that line. So compiling the source gives
// back every script our writer made, and any other script byte for byte
// except the lines the source cannot say at all: a command line that
// begins with '@' would be read as a directive, so it is left out with a
// note.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/finding.h"
#include "script/script.h"
#include "script/script_check.h"

struct ScriptDecode {
  std::string source;
  bool exact = true;                // compiling source gives the script back byte for byte
  std::vector<int> unsaid;          // lines the source cannot say (left out, with a note)
  std::vector<Finding> findings;    // what a run would refuse or read oddly, as --check reports it
  int faults = 0;                   // findings that are faults
};

// check_script over script in memory (through a temporary file, as the
// check reads a FILE*), from entry mode 0, and when sum is given the
// script's checksum as the run checks it first (check_checksum). *read is
// false when no temporary file could be written; the check is then empty.
ScriptCheck check_script_bytes(std::string_view script, bool* read, ChecksumCheck* sum = nullptr);

// Decodes script (the whole file) into its readable source. name is the
// file's name for the first note. The check reads the script as the first
// script of a run reads it: its checksum first (a checksum that does not
// hold is a fault, as the run refuses the script for it), then every line
// (entry mode 0 before its first "u" directive).
ScriptDecode decode_script(std::string_view script, const std::string& name);
