// Where this build has no fleet processes (Windows, until a CreateProcess
// implementation is written), a fleet run says so and stops.
#include "fleet/processes.h"

std::unique_ptr<Processes> make_system_processes(std::string* why) {
  *why = "--all is not available in this build for Windows: update the instruments one at a time with --serial=SN";
  return nullptr;
}

std::string own_program_path(const char* argv0) { return argv0 != nullptr ? argv0 : ""; }
