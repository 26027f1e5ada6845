// The job runner: the whole control flow of one run of the updater.
#pragma once

#include "driver/updater.h"

// Reads the list file argv[1] and runs its jobs in slot order, stopping at the
// first that fails; further arguments are ignored. Returns the exit status:
// 0 after "Update Ok", 1 on any failure ("parameters error" and a pause when
// there is no argument; the list file's own message and a pause when it cannot
// be read; with u.visa_chosen, "VISA is not available" and a pause before any
// job when the list needs the instrument and the chosen VISA cannot be
// loaded; the failing job's messages otherwise). A list that names no job
// ends "Update Ok" with exit status 0, after a warning on standard error.
int updater_main(Updater& u, int argc, const char* const* argv);
