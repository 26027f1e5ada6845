// tmflash --all as the command line asks for it: the fleet's options from
// the command line, the VISA implementation for its one search, the
// system's child processes and the program's own path for the children.
#pragma once

#include <string>
#include <vector>

#include "app/command_line.h"
#include "platform/platform.h"

// Runs cl (cl.all set); argv0 is the program's name as started, arguments
// the command line's words after it. Returns the exit status; 1 with a red
// "tmflash: --all: ..." line on standard error where a fleet cannot run
// (no child processes in this build, a trace replay).
int run_fleet_command_line(const CommandLine& cl, const char* argv0, const std::vector<std::string>& arguments,
                           Platform& os);
