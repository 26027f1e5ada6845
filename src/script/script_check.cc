#include "script/script_check.h"

#include <cerrno>
#include <cstring>

#include "base/hex.h"
#include "base/text.h"
#include "link/link_state.h"
#include "script/command.h"
#include "script/script.h"

namespace {

constexpr char kDirectiveLetters[] = "chjlmuvwf";
constexpr size_t kUValueLength = 10;  // flag digit, one character, eight hex digits
constexpr size_t kShownLineMax = 80;  // a quoted line longer than this is cut with "..."

// The line as a message quotes it: without its line end, escaped, cut.
std::string shown_line(const char* line) {
  std::string_view text(line, strcspn(line, "\r\n"));
  std::string out = escaped(text.substr(0, kShownLineMax), true);
  if (text.size() > kShownLineMax) out += "...";
  return in_quotes(out);
}

bool u_value_is_well_formed(const char* value) {
  size_t length = strcspn(value, "\r\n");
  if (length != kUValueLength || get_value(value[0]) < 0) return false;
  for (size_t i = 2; i < kUValueLength; ++i) {
    if (get_value(value[i]) < 0) return false;
  }
  return true;
}

// A directive line: warns about what the run ignores or reads oddly, then
// applies it as the run does.
void check_directive(ScriptCheck& check, FileSettings& upd, int& jump_dealy, char* line, int number) {
  char letter = line[3];
  char* value = directive_value(line);
  if (letter == '\0' || strchr(kDirectiveLetters, letter) == nullptr) {
    check.findings.push_back(
        warning_at(number, "directive " + shown_line(line) + " has no known letter; the run ignores it"));
  } else if (letter == 'u' && !u_value_is_well_formed(value)) {
    check.findings.push_back(warning_at(
        number, "the \"u\" value " + shown_line(value) +
                    " is not a hex flag digit, one character and eight hex digits; the run reads each missing or "
                    "non-hex digit as all bits set"));
  }
  apply_directive(upd, jump_dealy, letter, value);
  if (letter == 'v') check.version = upd.version;
  if (letter == 'h') check.cmd_header = upd.cmd_header;
}

TransferPoint transfer_point(const FileSettings& upd, int jump_dealy, int number) {
  TransferPoint t;
  t.line = number;
  t.mode = upd.mode;
  t.comm_reset = upd.comm_reset;
  t.jump_dealy = jump_dealy;
  t.jump_boot = upd.jump_boot;
  t.boot_version = upd.boot_version;
  t.main_version = upd.main_version;
  t.HW_version = upd.HW_version;
  return t;
}

// A command line: counts it, notes a transfer command, and adds the fault
// program_cmd would report for it.
void check_command(ScriptCheck& check, const FileSettings& upd, int jump_dealy, const char* line, bool too_long,
                   int number) {
  ++(upd.binary ? check.binary_commands : check.text_commands);
  if (too_long) {
    check.findings.push_back(fault_at_line(number, framing_message(upd.binary),
                                           "the line is longer than " + std::to_string(kDataSize - 1) +
                                               " characters"));
    return;
  }
  CommandRefusal refusal = command_refusal(line, upd);
  if (refusal.message == nullptr) {
    if (line[1] == 't') check.transfers.push_back(transfer_point(upd, jump_dealy, number));
    return;
  }
  std::string text = refusal.entry_mode
                         ? "the transfer command " + shown_line(line) + " is in entry mode " +
                               std::to_string(upd.mode) + "; only 0 .. 3 exist"
                         : "the command line " + shown_line(line) + " is refused in " +
                               (upd.binary ? "binary" : "text") + " mode: " + refusal.why;
  check.findings.push_back(fault_at_line(number, refusal.message, text));
}

}  // namespace

ScriptCheck check_script(FILE* file, int mode) {
  ScriptCheck check;
  FileSettings upd;  // as reset_setting leaves them, with the mode carried over
  upd.mode = mode;
  int jump_dealy = kDefaultJumpDelayMs;
  char line[kDataSize];
  bool too_long = false;
  rewind(file);
  while (read_script_line(file, line, sizeof line, &too_long) > 0) {
    int number = ++check.lines;
    if (is_directive(line) && !too_long) {
      check_directive(check, upd, jump_dealy, line, number);
    } else {
      check_command(check, upd, jump_dealy, line, too_long, number);
    }
  }
  if (ferror(file)) {
    check.findings.push_back(warning_at(0, std::string("cannot be read: ") + strerror(errno) +
                                               "; a run would send nothing of it"));
  }
  check.mode_after = upd.mode;
  return check;
}
