// tmscript: writes an update script from a readable source, encoding the
// scrambled directive values.
//
//   tmscript SOURCE OUTPUT
//
// The source format is described in src/script/script_writer.h: lines that
// begin with '@' become directive lines (@header, @jump, @boot, @main, @hw,
// @version, @company, @u, @checksum); every other line is copied unchanged.
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
// (entry mode 0). Prints every finding; returns true when there is no fault.
bool updater_accepts(const std::string& script, const std::string& source) {
  FILE* file = std::tmpfile();
  if (file == nullptr || std::fwrite(script.data(), 1, script.size(), file) != script.size()) {
    std::cerr << "tmscript: cannot check the script: no temporary file\n";
    if (file != nullptr) std::fclose(file);
    return false;
  }
  ScriptCheck check = check_script(file, 0);
  std::fclose(file);
  bool accepted = true;
  for (const Finding& f : check.findings) {
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
  if (!compile_script(source.str(), &script, &error)) {
    std::cerr << "tmscript: " << argv[1] << ": " << error << "\n";
    return 1;
  }
  if (!updater_accepts(script, argv[1])) return 1;
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << script;
  if (!out) {
    std::cerr << "tmscript: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
