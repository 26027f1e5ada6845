#include "script/script.h"

#include <cstring>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "base/text.h"
#include "platform/regular_file.h"
#include "script/command.h"
#include "script/encoding.h"

namespace {

// Reads like fgets: up to and including the next line feed, at most size - 1
// bytes, NUL added. Returns the bytes read (NUL bytes in the line included),
// 0 at the end of the file.
size_t read_piece(FILE* file, char* buffer, size_t size) {
  size_t n = 0;
  int c = 0;
  while (n + 1 < size && c != '\n' && (c = getc(file)) != EOF) buffer[n++] = static_cast<char>(c);
  buffer[n] = '\0';
  return n;
}


long file_size(FILE* file) {
  fseek(file, 0, SEEK_END);
  long size = ftell(file);
  fseek(file, 0, SEEK_SET);
  return size;
}

// The value of a hex digit for the "u" directive; the end of the value counts
// as a non-hex character, -1, like any other.
int digit_at(const char* value, size_t len, size_t i) {
  return i < len ? get_value(value[i]) : -1;
}

void apply_u(FileSettings& upd, int& jump_dealy, const char* value) {
  size_t len = strlen(value);
  unsigned flags = static_cast<unsigned>(digit_at(value, len, 0)) ^ kFlagMask;
  upd.comm_reset = static_cast<int>(flags & 1);
  upd.binary = static_cast<int>((flags >> 1) & 1);
  upd.mode = static_cast<int>((flags >> 2) & 3);
  uint32_t delay = 0;
  for (size_t i = 2; i < 10; ++i) delay = delay * 16 + static_cast<uint32_t>(digit_at(value, len, i));
  jump_dealy = static_cast<int>(delay ^ kWordMask);
}

void apply_header(FileSettings& upd, const char* value) {
  set_binary2data(value, upd.cmd_header, sizeof upd.cmd_header);
  set_command_header(upd, upd.cmd_header);
}

}  // namespace

size_t read_script_line(FILE* file, char* line, size_t size, bool* too_long) {
  size_t n = read_piece(file, line, size);
  *too_long = false;
  if (n == 0 || n + 1 < size || line[n - 1] == '\n') return n;
  int c = getc(file);
  if (c == EOF) return n;
  // The rest of the line is read and dropped; its bytes still count.
  *too_long = true;
  for (++n; c != '\n' && (c = getc(file)) != EOF;) ++n;
  return n;
}

bool is_directive(const char* line) { return strncmp(line, "___", 3) == 0; }

char* directive_value(char* line) {
  size_t length = strlen(line);
  return line + (length < 5 ? length : 5);
}

int program(ScriptUpdater& u, int selection, int attempt, FILE* file) {
  long size = file_size(file);
  long count = 0;
  char* text = u.upd.src_data;
  size_t bytes;
  bool too_long = false;
  while ((bytes = read_script_line(file, text, sizeof u.upd.src_data, &too_long)) > 0) {
    count += static_cast<long>(bytes);
    if (is_directive(text) && !too_long) {
      get_base_data(u, text[3], directive_value(text), attempt);
      continue;
    }
    print_progress(u.os, count, size);
    // Refused like a malformed command line of the file's send mode.
    if (too_long) return report_failure_and_pause(u.os, framing_message(u.upd.binary));
    int result = program_cmd(u, selection, attempt);
    if (result != kCommandDone) return result;
  }
  return kOk;
}

void apply_directive(FileSettings& upd, int& jump_dealy, char letter, char* value) {
  value[strcspn(value, "\r\n")] = '\0';
  switch (letter) {
    case 'c': copy_text(upd.company, sizeof upd.company, value); break;
    case 'h': apply_header(upd, value); break;
    case 'j': set_binary2data(value, upd.jump_boot, sizeof upd.jump_boot); break;
    case 'l': set_binary2data(value, upd.boot_version, sizeof upd.boot_version); break;
    case 'm': set_binary2data(value, upd.main_version, sizeof upd.main_version); break;
    case 'w': set_binary2data(value, upd.HW_version, sizeof upd.HW_version); break;
    case 'u': apply_u(upd, jump_dealy, value); break;
    case 'v': copy_text(upd.version, sizeof upd.version, value); break;
    default: break;  // "f" and unknown letters
  }
}

void get_base_data(ScriptUpdater& u, char letter, char* value, int attempt) {
  apply_directive(u.upd, u.link.jump_dealy, letter, value);
  if (letter == 'v' && attempt == 0) printf_color(u.os, kColourGreen, msg::kUpdateToVersion, u.upd.version);
}

void set_binary2data(const char* field, char* out, size_t out_size) {
  size_t n = 0;
  for (const char* p = field; n + 1 < out_size; p += 2) {
    if (get_value(p[0]) < 0) break;  // p[1] is read only when p[0] is no NUL
    int pair = hex_pair(p[0], p[1]);
    if (pair < 0) break;
    char byte = static_cast<char>(pair ^ kByteMask);
    if (byte == '\0') break;
    out[n++] = byte;
  }
  out[n] = '\0';
}

void set_command_header(FileSettings& upd, const char* header) {
  if (header[0] == '\0') {
    upd.des_data[0] = '\0';
    upd.headerlen = 0;
    upd.i488_en = 0;
    return;
  }
  copy_text(upd.des_data, sizeof upd.des_data, header);
  upd.headerlen = static_cast<int>(append_text(upd.des_data, sizeof upd.des_data, " "));
  upd.i488_en = 1;
}

void reset_setting(ScriptUpdater& u) {
  FileSettings& upd = u.upd;
  int mode = upd.mode;
  upd = FileSettings{};
  upd.mode = mode;
  u.link.jump_dealy = kDefaultJumpDelayMs;
}

uint32_t checksum_words(const char* piece, size_t n) {
  uint32_t sum = 0;
  for (size_t i = 0; i < n; i += 4) {
    uint32_t word = 0;
    for (size_t b = 0; b < 4 && i + b < n; ++b) {
      word |= static_cast<uint32_t>(static_cast<unsigned char>(piece[i + b])) << (8 * b);
    }
    sum += word;
  }
  return sum;
}

ChecksumCheck check_checksum(FILE* file) {
  ChecksumCheck check;
  rewind(file);
  uint32_t sum = 0;
  char line[kChecksumPiece + 1];
  bool at_line_start = true;
  size_t n;
  while ((n = read_piece(file, line, sizeof line)) > 0) {
    bool starts_line = at_line_start;
    at_line_start = line[n - 1] == '\n';
    if (starts_line) ++check.lines;
    if (strncmp(line, "___f=", 5) != 0) {
      sum += checksum_words(line, n);
      continue;
    }
    // A piece that begins "___f=" counts as a checksum line wherever it
    // stands, as the checksum's definition reads the file.
    check.line = check.lines;
    uint32_t value = 0;
    for (int i = 5; i < 13; ++i) {
      int digit = get_value(line[i]);
      if (digit < 0) check.bad_digit = true;
      value = value * 16 + static_cast<uint32_t>(digit);
    }
    if (check.bad_digit) break;
    sum = value ^ kWordMask;
  }
  check.read_error = ferror(file) != 0;
  check.holds = !check.bad_digit && !check.read_error && sum == 0;
  rewind(file);
  return check;
}

const char* script_integrity_fault(const ChecksumCheck& check, bool strict, std::string* why) {
  if (check.read_error) {
    *why = "the script cannot be read to check it";
  } else if (check.line == 0) {
    if (!strict) return nullptr;
    *why = check.lines == 0 ? "an empty script, which --strict refuses: nothing in it can be verified"
                            : "the script carries no checksum line (___f=), which --strict requires";
    return msg::kCorrupted12;
  } else if (check.bad_digit) {
    *why = "the checksum line holds a character that is not a hex digit";
  } else if (!check.holds) {
    *why = "the checksum does not hold: the script was damaged or changed after it was written";
  } else {
    return nullptr;
  }
  return msg::kCorrupted11;
}

int checksum_file(const char* path) {
  FILE* file = open_regular_file(path, nullptr);
  if (file == nullptr) return 0;
  ChecksumCheck check = check_checksum(file);
  fclose(file);
  return check.holds ? 1 : 0;
}
