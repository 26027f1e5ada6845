// A run as the command line asks for it: the station's options (--select,
// --serial, --no-pause, --log, --report, --trace) wired around the job
// runner, which itself knows none of them.
#pragma once

#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/platform.h"

// Runs cl (action kRun) on the platform os; arguments are the command
// line's words after the program's name, for the log and the report.
// Returns the exit status: the runner's, or 1 when a file an option names
// cannot be opened at the start (a red "tmflash: ..." line, no pause, no
// job run) or the report cannot be written at the end.
int run_command_line(const CommandLine& cl, const std::vector<std::string>& arguments, Platform& os);
