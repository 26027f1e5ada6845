// What the package updater works on: the script updater's state and the
// header of the package that is running.
#pragma once

#include "package/package_state.h"
#include "script/script_updater.h"

struct PackageUpdater : ScriptUpdater {
  using ScriptUpdater::ScriptUpdater;

  PackageState pkg;  // package header
};
