// tmscript: writes an update script from a readable source, encoding the
// scrambled directive values.
//
//   tmscript SOURCE OUTPUT
//
// The source format is described in src/script/script_writer.h: lines that
// begin with '@' become directive lines (@header, @jump, @boot, @main, @hw,
// @version, @company, @u, @checksum); every other line is copied unchanged.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/native.h"
#include "script/script_writer.h"

int main(int argc, char** argv_system) {
  const ProgramArguments args(argc, argv_system);  // names, whatever the code page
  const char* const* argv = args.argv();
  if (argc != 3) {
    std::cerr << "usage: tmscript SOURCE OUTPUT\n";
    return 2;
  }
  std::ifstream in(file_path(argv[1]), std::ios::binary);
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
  std::ofstream out(file_path(argv[2]), std::ios::binary | std::ios::trunc);
  out << script;
  if (!out) {
    std::cerr << "tmscript: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
