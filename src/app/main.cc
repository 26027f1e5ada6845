// tmflash: the program entry. Reads the command line, chooses the platform
// and the VISA implementation, and hands the list file to the job runner.
#include <cstdio>
#include <memory>
#include <vector>

#include "app/command_line.h"
#include "app/visa_choice.h"
#include "base/console.h"
#include "config.h"
#include "driver/check.h"
#include "driver/runner.h"
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
      fputs(usage_text(), stdout);
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
    if (cl.list_arg < 0) {
      printf_color(os, kColourRed, "tmflash: --check needs a list file (see tmflash --help)\n");
      return 1;
    }
    return check_list(os, arg[cl.list_arg]);
  }
  std::unique_ptr<VisaBackend> visa = choose_visa_backend(cl.visa);
  Updater u(os, visa.get());
  u.visa_chosen = !cl.visa.empty();
  // The runner takes the list file as argv[1] and ignores what follows it, so
  // options are taken off here and the runner sees exactly the command line
  // operators' procedures and batch files give it: the program and the list.
  std::vector<const char*> runner_args{arg[0]};
  if (cl.list_arg > 0) runner_args.push_back(arg[cl.list_arg]);
  return updater_main(u, static_cast<int>(runner_args.size()), runner_args.data());
}
