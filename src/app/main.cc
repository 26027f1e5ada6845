// tmflash: the program entry. Reads the command line, chooses the platform
// and hands the run to the station's wiring (app/station.h).
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/fleet_station.h"
#include "app/station.h"
#include "base/console.h"
#include "config.h"
#include "driver/check.h"
#include "platform/native.h"
#include "platform/standard_streams.h"
#include "platform/system_platform.h"

int main(int argc, char** argv) {
  // Before anything opens a file: a closed standard stream must not become
  // the first file opened.
  if (!open_standard_streams()) return 1;
  const ProgramArguments args(argc, argv);
  const char* const* arg = args.argv();
  CommandLine cl = parse_command_line(args.size(), arg);
  Platform& os = system_platform();
  switch (cl.action) {
    case CommandLine::kHelp:
      fputs(usage_text().c_str(), stdout);
      return 0;
    case CommandLine::kVersion:
      printf("tmflash %s\n", TMFLASH_VERSION);
      return 0;
    case CommandLine::kError:
      printf_color(os, kColourRed, "tmflash: %s (see tmflash --help)\n", cl.error.c_str());
      return 1;
    case CommandLine::kRun:
      break;
  }
  if (cl.check) {
    if (!cl.list_file) {
      printf_color(os, kColourRed, "tmflash: --check needs a list file (see tmflash --help)\n");
      return 1;
    }
    IntegrityRules rules;
    rules.strict = cl.strict;
    rules.verify_checksum = !cl.no_verify;
    return check_list(os, cl.list_file->c_str(), rules);
  }
  std::vector<std::string> arguments(arg + 1, arg + args.size());
  if (cl.all) return run_fleet_command_line(cl, arg[0], arguments, os);
  return run_command_line(cl, arguments, os);
}
