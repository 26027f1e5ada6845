// tmscript: writes an update script from a readable source, encoding the
// scrambled directive values.
//
//   tmscript SOURCE OUTPUT
//
// The source format is described in src/script/script_writer.h: lines that
// begin with '@' become directive lines (@header, @jump, @boot, @main, @hw,
// @version, @company, @u, @checksum); every other line is copied unchanged.
//
// The script's first line is always its checksum line ("___f="), over every
// line after it, so that the updater refuses a copy that was cut short or
// damaged (a source that begins with @checksum gives it there; any other
// source gets one put before its first line). A later @checksum would leave
// the lines before it uncovered: it is written as asked, with a warning.
//
// The script is checked as the updater reads it before it is written: a
// command line the updater would refuse in the send mode its directives
// select (an odd digit count, a letter that is no command letter, a line
// without its '$' ...) is reported with its line and the message the
// updater would print, and nothing is written (exit status 1). Line numbers
// of the script are those of the source. Warnings (an unknown directive
// letter) are shown and the script is written.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "base/finding.h"
#include "script/script_check.h"
#include "script/script_writer.h"

namespace {

// Checks the script as the updater would read it, from the start of a run
// (entry mode 0). Prints every finding, at its line of the source: the
// script's line less added, the lines put before the source. Returns true
// when there is no fault.
bool updater_accepts(const std::string& script, const std::string& source, int added) {
  FILE* file = std::tmpfile();
  if (file == nullptr || std::fwrite(script.data(), 1, script.size(), file) != script.size()) {
    std::cerr << "tmscript: cannot check the script: no temporary file\n";
    if (file != nullptr) std::fclose(file);
    return false;
  }
  ScriptCheck check = check_script(file, 0);
  std::fclose(file);
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

// The source with "@checksum" as its first line: as it is when it begins
// so, else with the line put before it. Warns about later @checksum lines.
std::string with_checksum_first(const std::string& source, const std::string& name) {
  bool first = source.rfind("@checksum", 0) == 0 &&
               (source.size() == 9 || source[9] == '\n' || source[9] == '\r' || source[9] == ' ');
  int line = 1;
  for (size_t at = source.find('\n'); at != std::string::npos; at = source.find('\n', at + 1)) {
    ++line;
    if (source.compare(at + 1, 9, "@checksum") == 0) {
      std::cerr << "tmscript: " << name << ":" << line
                << ": warning: a checksum line after the first: the lines before it are not covered\n";
    }
  }
  return first ? source : "@checksum\n" + source;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: tmscript SOURCE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "tmscript: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::stringstream source;
  source << in.rdbuf();
  std::string script, error;
  std::string text = with_checksum_first(source.str(), argv[1]);
  const int added = text.size() > source.str().size() ? 1 : 0;
  if (!compile_script(text, &script, &error)) {
    std::cerr << "tmscript: " << argv[1] << ": " << error << "\n";
    return 1;
  }
  if (!updater_accepts(script, argv[1], added)) return 1;
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << script;
  if (!out) {
    std::cerr << "tmscript: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
