// The job kinds that work on the instrument, and the job plumbing they
// share. Each job runs whole with its own messages and returns 0 when it is
// done, or 1 when the run must stop (its messages printed and, where it says
// so, the operator paused for). The selection is the runner's instrument
// choice.
#pragma once

#include <cstdio>

#include "driver/updater.h"

// Kind 2: writes the text to the instrument unchanged.
int machine_command_job(Updater& u, const char* text, int& selection);

// Kind 1: runs an update script, up to four attempts.
int update_script_job(Updater& u, const char* path, int& selection);

// Kind 4: runs a package. The choice made inside it is not handed back.
int package_job(Updater& u, const char* path, int selection);

// Opens a job's script or package for reading and announces it
// ("file(%s) updating..."). Returns nullptr after
// "Corrupted Update File. (5)", the reason on standard error and a pause
// when it cannot be opened or is no regular file (a folder, a FIFO, a
// device: refused without blocking or reading it).
FILE* open_job_file(Updater& u, const char* path);

// Closes a job's file, then the instrument session.
void UP_CLOSE(Updater& u, FILE* file);
