// The package job: the header is read and the whole package checked before
// the instrument is opened, the instrument's identity and system information
// are compared with the package, and then the sections of the run order run
// one after another, each with a session of its own.
#pragma once

#include <cstdio>

#include "base/results.h"
#include "package/package_updater.h"

// Runs the package open in file (at its start); path names it in notes.
// Returns 0 when every section of the run order has run; 1 on the first
// failure, after its message. Before the instrument is opened the whole
// package is checked (package_check.h): a fault there gets the message the
// run would print where it met it ("Corrupted Update File. (10-7)" for an
// integrity trailer that does not match, "(10-8)" for none under --strict,
// "(10-1)" for the header or layout, "(10-2)", "(10-3)", "(10-4)",
// "(10-6)", or the framing message and "(10-5)") and on standard error its
// place, and nothing is sent. Otherwise "(9-%d)" when the package does not
// suit the instrument, or the message of the failing open, write or
// section. When the instrument cannot tell whether the package suits it,
// the observer is told that the check was skipped, and under --strict the
// package stops there with "(9-0)", nothing sent. Leaves the session open if
// it was open; the caller closes it.
int UpdatePt(PackageUpdater& u, int selection, int attempt, FILE* file, const char* path);

// The compatibility check over the session UpdatePt has opened. Returns 0,
// kInfoQueryFailed after "Device is failed connected. (3)", or the mismatch
// codes above; prints "Device isn't get idn" / "Device isn't get info(1)" /
// "(2)" and returns 0 when the instrument cannot tell, or when its identity
// says it runs its bootloader (it is then not asked for its system
// information). *skipped (may be null) is then set to why no check was
// made; otherwise to nullptr.
int ask_info(PackageUpdater& u, const char** skipped = nullptr);
