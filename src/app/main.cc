// tmflash: the program entry. Reads the command line, chooses the platform
// and hands the run to the station's wiring (app/station.h).
#include <cstdio>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/station.h"
#include "base/console.h"
#include "config.h"
#include "platform/posix_platform.h"

int main(int argc, char** argv) {
  CommandLine cl = parse_command_line(argc, argv);
  PosixPlatform os;
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
  std::vector<std::string> arguments(argv + 1, argv + argc);
  return run_command_line(cl, arguments, os);
}
