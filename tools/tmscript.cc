// tmscript: writes an update script from a readable source, encoding the
// scrambled directive values, and reads any script back into its source.
//
//   tmscript SOURCE SCRIPT
//   tmscript --decode SCRIPT [SOURCE]
//   tmscript --help | --version
//
// The source format is described in src/script/script_writer.h: lines that
// begin with '@' become directive lines (@header, @jump, @boot, @main, @hw,
// @version, @company, @u, @checksum), "@#" lines are notes; every other
// line is copied unchanged.
//
// The script's first line is always its checksum line ("___f="), over every
// line after it, so that the updater refuses a copy that was cut short or
// damaged (a source whose first line that is no note is @checksum, or a
// checksum line kept as it stands, gives it there; any other source gets
// one put before its first line). A later @checksum would leave the lines
// before it uncovered: it is written as asked, with a warning.
//
// The script is checked as the updater reads it before it is written: a
// command line the updater would refuse in the send mode its directives
// select (an odd digit count, a letter that is no command letter, a line
// without its '$' ...) is reported with its line and the message the
// updater would print, and nothing is written (exit status 1). Line numbers
// of the script are those of the source. Warnings (an unknown directive
// letter) are shown and the script is written.
//
// --decode writes the source of SCRIPT to SOURCE, or to standard output
// (src/script/script_decode.h): directives unscrambled, the checksum line
// with whether it holds, and a note at every line the updater would refuse,
// with its message. Exit status 1 when the updater would refuse the script
// (the source is written all the same) or a file cannot be read or written.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "base/finding.h"
#include "platform/native_path.h"
#include "script/script.h"
#include "script/script_check.h"
#include "script/script_decode.h"
#include "script/script_writer.h"
#include "tools/tool_command_line.h"

namespace {

// Checks the script as the updater would read it, from the start of a run
// (entry mode 0). Prints every finding, at its line of the source: the
// script's line less added, the lines put before the source. Returns true
// when there is no fault.
bool updater_accepts(const std::string& script, const std::string& source, int added) {
  bool read = false;
  ScriptCheck check = check_script_bytes(script, &read);
  if (!read) {
    std::cerr << "tmscript: cannot check the script: no temporary file\n";
    return false;
  }
  bool accepted = true;
  for (Finding f : check.findings) {
    if (f.line > added) f.line -= added;
    std::string place = finding_place(source, f);
    if (f.kind == Finding::kWarning) {
      std::cerr << "tmscript: " << place << ": warning: " << f.text << "\n";
    } else {
      std::cerr << "tmscript: " << place << ": " << finding_messages(f) << ": " << f.text << "\n";
      accepted = false;
    }
  }
  if (!accepted) std::cerr << "tmscript: " << source << ": nothing written: the updater would refuse this script\n";
  return accepted;
}

bool is_checksum_directive(std::string_view line) {
  return line.substr(0, 9) == "@checksum" && (line.size() == 9 || line[9] == '\n' || line[9] == '\r' || line[9] == ' ');
}

// The source with its checksum line first: as it is when its first line
// that is no note is "@checksum" or a checksum line "___f=" (as a decoded
// script keeps one that does not hold), else with "@checksum" put before
// it; *added is then 1. Warns about later @checksum lines.
std::string with_checksum_first(const std::string& source, const std::string& name, int* added) {
  bool first = true, protected_first = false;
  int number = 0;
  for (size_t start = 0; start < source.size();) {
    size_t end = source.find('\n', start);
    end = end == std::string::npos ? source.size() : end + 1;
    std::string_view line(source.data() + start, end - start);
    start = end;
    ++number;
    if (is_source_note(line)) continue;
    if (first) {
      protected_first = is_checksum_directive(line) || line.substr(0, 5) == "___f=";
      first = false;
    } else if (is_checksum_directive(line)) {
      std::cerr << "tmscript: " << name << ":" << number
                << ": warning: a checksum line after the first: the lines before it are not covered\n";
    }
  }
  *added = protected_first ? 0 : 1;
  return protected_first ? source : "@checksum\n" + source;
}

bool read_whole(const char* path, std::string* bytes) {
  std::ifstream in(file_path(path), std::ios::binary);
  if (!in) return false;
  std::stringstream text;
  text << in.rdbuf();
  *bytes = text.str();
  return !in.bad();
}

int compile(const std::string& source_path, const std::string& script_path) {
  std::string source;
  if (!read_whole(source_path.c_str(), &source)) {
    std::cerr << "tmscript: cannot read " << source_path << "\n";
    return kToolFailed;
  }
  int added = 0;
  std::string text = with_checksum_first(source, source_path, &added);
  std::string script, error;
  if (!compile_script(text, &script, &error)) {
    std::cerr << "tmscript: " << source_path << ": " << error << "\n";
    return kToolFailed;
  }
  if (!updater_accepts(script, source_path, added)) return kToolFailed;
  std::ofstream out(file_path(script_path), std::ios::binary | std::ios::trunc);
  out << script;
  if (!out) {
    std::cerr << "tmscript: cannot write " << script_path << "\n";
    return kToolFailed;
  }
  return kToolDone;
}

int decode(const std::string& script_path, const std::string* source_path) {
  std::string script;
  if (!read_whole(script_path.c_str(), &script)) {
    std::cerr << "tmscript: cannot read " << script_path << "\n";
    return kToolFailed;
  }
  ScriptDecode decoded = decode_script(script, script_path);
  if (source_path == nullptr) {
    std::cout << decoded.source << std::flush;
  } else {
    std::ofstream out(file_path(*source_path), std::ios::binary | std::ios::trunc);
    out << decoded.source;
    if (!out) {
      std::cerr << "tmscript: cannot write " << *source_path << "\n";
      return kToolFailed;
    }
  }
  if (!decoded.exact) {
    std::cerr << "tmscript: " << script_path << ": " << decoded.unsaid.size()
              << " line(s) cannot be said in a source; the notes name them\n";
  }
  if (decoded.faults == 0) return kToolDone;
  std::cerr << "tmscript: " << script_path << ": " << decoded.faults
            << " fault(s): the updater would refuse this script; the notes name them\n";
  return kToolFailed;
}

constexpr char kUsage[] =
    "Usage: tmscript SOURCE SCRIPT\n"
    "  or:  tmscript --decode SCRIPT [SOURCE]\n"
    "  or:  tmscript --help | --version\n";

constexpr char kDescription[] =
    "Writes the update script SCRIPT from its readable SOURCE: the directives\n"
    "(@header, @u, @jump, @boot, @main, @hw, @version, @company, @checksum)\n"
    "become their scrambled directive lines, every other line is copied. A\n"
    "script the updater would refuse is not written.\n"
    "With --decode, writes the readable source of SCRIPT to SOURCE (or to\n"
    "standard output): compiling it gives the script back.\n";

constexpr char kFooter[] =
    "Exit status: 0 when done; 1 when a file cannot be read or written or the\n"
    "updater would refuse the script; 2 for a wrong command line.\n"
    "The source format is described in the README (\"Update scripts\").";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  std::unique_ptr<CLI::App> app = tool_app("tmscript", kUsage, kDescription, kFooter, files);
  bool decoding = false;
  app->add_flag("--decode", decoding, "write the readable source of SCRIPT");
  int status = parse_tool_command_line(*app, argc, argv);
  if (status >= 0) return status;
  if (decoding) {
    if (files.empty() || files.size() > 2) return usage_error(*app, "--decode takes SCRIPT and, at will, SOURCE");
    return decode(files[0], files.size() == 2 ? &files[1] : nullptr);
  }
  if (files.size() != 2) return usage_error(*app, "expected SOURCE and SCRIPT");
  return compile(files[0], files[1]);
}
