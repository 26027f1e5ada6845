#include "script/script_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/hex.h"
#include "base/text.h"
#include "link/link_state.h"
#include "script/script.h"
#include "script/script_check.h"
#include "script/script_writer.h"

namespace {

constexpr char kNote[] = "@# ";

std::string quoted(std::string_view text) { return in_quotes(escaped(text, true)); }

// The line without its line feed.
std::string_view body_of(std::string_view line) {
  return !line.empty() && line.back() == '\n' ? line.substr(0, line.size() - 1) : line;
}

// What the run holds after it applied a directive line (body: without its
// line feed), as apply_directive leaves the settings: in words, and the
// text setting the letter sets. Empty words for a letter it ignores.
struct RunReads {
  std::string words;
  std::string text;
};

RunReads what_the_run_reads(std::string_view body) {
  char line[kDataSize] = {};
  memcpy(line, body.data(), std::min(body.size(), sizeof line - 1));
  FileSettings upd;
  int jump_dealy = kDefaultJumpDelayMs;
  char letter = line[3];
  apply_directive(upd, jump_dealy, letter, directive_value(line));
  auto text = [](const char* what, const char* value) { return RunReads{what + quoted(value), value}; };
  switch (letter) {
    case 'h': return text("command header ", upd.cmd_header);
    case 'j': return text("jump command ", upd.jump_boot);
    case 'l': return text("accepted bootloader version ", upd.boot_version);
    case 'm': return text("accepted main versions ", upd.main_version);
    case 'w': return text("accepted hardware versions ", upd.HW_version);
    case 'v': return text("version ", upd.version);
    case 'c': return text("company ", upd.company);
    case 'u':
      return RunReads{"mode=" + std::to_string(upd.mode) + " binary=" + std::to_string(upd.binary) +
                          " comm_reset=" + std::to_string(upd.comm_reset) + " delay=" + std::to_string(jump_dealy),
                      ""};
    default: return RunReads{};
  }
}

// The bytes of a scrambled hex field, unscrambled; false when it is not
// whole pairs of hex digits.
bool unscramble(std::string_view value, std::string* text) {
  if (value.size() % 2 != 0) return false;
  text->clear();
  for (size_t i = 0; i < value.size(); i += 2) {
    int d1 = get_value(value[i]), d2 = get_value(value[i + 1]);
    if (d1 < 0 || d2 < 0) return false;
    text->push_back(static_cast<char>((d1 * 16 + d2) ^ kByteMask));
  }
  return true;
}

// The source form that could stand for the directive line body, before it
// is tried, and in *text the text it gives; "" when there is none to try.
std::string source_form(std::string_view body, std::string* text) {
  char letter = body[3];
  std::string_view value = body.size() > 5 ? body.substr(5) : std::string_view();
  if (letter == 'u') return "@u " + what_the_run_reads(body).words;
  const char* name = directive_source_name(letter);
  if (name == nullptr) return "";
  if (letter == 'v' || letter == 'c') {
    *text = std::string(value);
  } else if (!unscramble(value, text)) {
    return "";
  }
  // A text a source line cannot carry, or one the run reads differently.
  if (text->find_first_of(std::string_view("\0\r\n", 3)) != std::string::npos) return "";
  return std::string("@") + name + (text->empty() ? "" : " " + *text);
}

// True when compiling form gives line back exactly.
bool writes_back(const std::string& form, std::string_view line) {
  std::string script, error;
  return compile_script(form + "\n", &script, &error) && script == line;
}

class Decoder {
 public:
  Decoder(std::string_view script, ScriptDecode* out) : script_(script), out_(*out) {
    for (const Finding& f : out_.findings) {
      if (f.line > 0) by_line_.push_back(&f);
    }
    std::stable_sort(by_line_.begin(), by_line_.end(),
                     [](const Finding* a, const Finding* b) { return a->line < b->line; });
  }

  void line(std::string_view line, size_t end, int number) {
    notes_for(number);
    bool directive = line.substr(0, 3) == "___" && line.size() < static_cast<size_t>(kDataSize);
    if (!directive) return command(line, number);
    std::string_view body = body_of(line);
    if (body.size() >= 4 && body[3] == 'f') return checksum(line, script_.substr(end), number);
    std::string text;
    std::string form = body.size() >= 4 ? source_form(body, &text) : "";
    RunReads reads = body.size() >= 4 ? what_the_run_reads(body) : RunReads{};
    if (!form.empty() && writes_back(form, line)) {
      // The form says what the line holds, unless the run cuts the text to
      // its setting's size.
      if (text != reads.text) note("line " + std::to_string(number) + ": the run keeps only the " + reads.words);
      emit(form + "\n");
      return;
    }
    if (!reads.words.empty()) {
      note("line " + std::to_string(number) + " kept as it stands (its source form would write it differently); "
           "the run reads " + reads.words);
    }
    emit(line);
  }

  // The findings of line number, in order; lines come in order.
  void notes_for(int number) {
    for (; next_ < by_line_.size() && by_line_[next_]->line <= number; ++next_) {
      if (by_line_[next_]->line == number) note(finding_text(*by_line_[next_]));
    }
  }

  static std::string finding_text(const Finding& f) {
    std::string place = f.line > 0 ? "line " + std::to_string(f.line) + ": " : "";
    if (f.kind == Finding::kWarning) return place + "warning: " + f.text;
    return place + "fault [" + finding_messages(f) + "]: " + f.text;
  }

  void note(const std::string& text) { body_ += kNote + text + "\n"; }
  void emit(std::string_view bytes) { body_.append(bytes); }
  const std::string& body() const { return body_; }

 private:
  void command(std::string_view line, int number) {
    if (!line.empty() && line[0] == '@') {
      // A source line that begins with '@' is a directive of the source.
      note("line " + std::to_string(number) + " cannot be said in a source (it begins with '@') and is left out: " +
           quoted(body_of(line)));
      out_.exact = false;
      out_.unsaid.push_back(number);
      return;
    }
    emit(line);
  }

  // A checksum line: "@checksum" when it holds for the lines after it and
  // the source says every one of them; the lines a source cannot say are
  // left out of it, and "@checksum" would then sum a different script.
  void checksum(std::string_view line, std::string_view following, int number) {
    std::string holds = "___f=" + checksum_value(following) + "\n";
    if (line == holds && !has_unsayable_line(following)) {
      note("checksum: holds for the lines after it");
      emit("@checksum\n");
      return;
    }
    if (line == holds) {
      note("line " + std::to_string(number) + ": checksum " + quoted(body_of(line)) +
           " holds for the lines after it, but some of them cannot be said in a source; kept as it stands");
      emit(line);
      return;
    }
    note("line " + std::to_string(number) + ": checksum " + quoted(body_of(line)) +
         " does not hold for the lines after it (they need " + quoted(body_of(holds)) + "); kept as it stands");
    emit(line);
  }

  // Whether a line of lines begins with '@' (command() leaves it out).
  static bool has_unsayable_line(std::string_view lines) {
    for (size_t start = 0; start < lines.size();) {
      if (lines[start] == '@') return true;
      size_t end = lines.find('\n', start);
      if (end == std::string_view::npos) break;
      start = end + 1;
    }
    return false;
  }

  std::string_view script_;
  ScriptDecode& out_;
  std::vector<const Finding*> by_line_;  // the findings of lines, by line
  size_t next_ = 0;
  std::string body_;
};

}  // namespace

ScriptCheck check_script_bytes(std::string_view script, bool* read, ChecksumCheck* sum) {
  FILE* file = std::tmpfile();
  *read = file != nullptr && std::fwrite(script.data(), 1, script.size(), file) == script.size();
  ScriptCheck check;
  if (*read && sum != nullptr) *sum = check_checksum(file);
  if (*read) check = check_script(file, 0);
  if (file != nullptr) std::fclose(file);
  return check;
}

ScriptDecode decode_script(std::string_view script, const std::string& name) {
  ScriptDecode out;
  bool read = false;
  ChecksumCheck sum;
  ScriptCheck check = check_script_bytes(script, &read, &sum);
  // The run refuses a script whose checksum fails before it reads a line.
  std::string why;
  if (const char* message = read ? script_integrity_fault(sum, false, &why) : nullptr) {
    out.findings.push_back(fault_at_line(sum.line, message, why));
  }
  out.findings.insert(out.findings.end(), check.findings.begin(), check.findings.end());
  if (!read) out.findings.push_back(warning_at(0, "cannot be checked: no temporary file"));
  for (const Finding& f : out.findings) out.faults += f.kind == Finding::kFault;

  Decoder decoder(script, &out);
  int number = 0;
  for (size_t start = 0; start < script.size();) {
    size_t end = script.find('\n', start);
    end = end == std::string_view::npos ? script.size() : end + 1;
    decoder.line(script.substr(start, end - start), end, ++number);
    start = end;
  }

  std::string head;
  auto head_note = [&head](const std::string& text) { head += kNote + text + "\n"; };
  head_note("Source of " + quoted(name) + ", decoded by tmscript --decode: " + std::to_string(number) + " lines, " +
            std::to_string(out.faults) + " faults, " + std::to_string(out.findings.size() - out.faults) +
            " warnings.");
  head_note("Compile it with: tmscript SOURCE SCRIPT");
  if (sum.line == 0) {
    head_note("checksum: the script has no checksum line");
  } else {
    head_note(std::string("checksum: the file's checksum (line ") + std::to_string(sum.line) +
              (sum.holds ? ") holds" : ") does NOT hold"));
  }
  if (script.substr(0, 5) != "___f=") {
    head_note("tmscript puts a checksum line before the first line: the script it writes from this source has "
              "that line more.");
  }
  for (const Finding& f : out.findings) {
    if (f.line == 0) head_note(Decoder::finding_text(f));
  }
  if (!out.exact) {
    head_note("Not every line can be said in a source: compiling this one does not give the script back byte "
              "for byte (see the notes).");
  }
  out.source = head + decoder.body();
  return out;
}
