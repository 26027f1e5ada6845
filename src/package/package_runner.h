// The package job: the header is read and the whole package checked before
// the instrument is opened, the instrument's identity and system information
// are compared with the package, and then the sections of the run order run
// one after another, each with a session of its own.
#pragma once

#include <cstdio>

#include "base/results.h"
#include "package/package_updater.h"

// Runs the package open in file (at its start). Returns 0 when every section
// of the run order has run; 1 on the first failure, after its message:
// "Corrupted Update File. (10-1)" (header or layout), "(10-2)" (framed
// records without their 'q' record before the end of the file), "(10-4)"
// (a binary sub-header that would never end), "(9-%d)" (the package does
// not suit the instrument), "(10-6)" (a command section of another kind), or
// the message of the failing open, write or section. Leaves the session open
// if it was open; the caller closes it.
int UpdatePt(PackageUpdater& u, int selection, int attempt, FILE* file);

// The compatibility check over the session UpdatePt has opened. Returns 0,
// kInfoQueryFailed after "Device is failed connected. (3)", or the mismatch
// codes above; prints "Device isn't get idn" / "Device isn't get info(1)" /
// "(2)" and returns 0 when the instrument cannot tell.
int ask_info(PackageUpdater& u);
