// What the package updater works on: the script updater's state and the
// header of the package that is running.
#pragma once

#include "package/package_state.h"
#include "script/script_updater.h"

// What the station requires of update files beyond their format. The
// defaults run every file its format allows, as stored files need.
struct IntegrityRules {
  // --strict: refuse what cannot be verified: a script without a checksum
  // line (an empty one too), a package without its integrity trailer, and a
  // package whose compatibility the instrument does not let be checked.
  bool strict = false;
  // --no-verify clears it: a script's checksum line is not checked, for
  // stored files known to carry a wrong one.
  bool verify_checksum = true;
};

struct PackageUpdater : ScriptUpdater {
  using ScriptUpdater::ScriptUpdater;

  PackageState pkg;  // package header
  IntegrityRules integrity;
};
