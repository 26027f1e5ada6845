// The state of one run of the updater, grouped by owner, and the services it
// reaches the outside world through. Each layer's part is its own struct and
// the layer's operations take only that part:
//
//   InstrumentLink  (link/)     platform, VISA implementation, link state
//   ScriptUpdater   (script/)   + per-file update settings and command buffers
//   PackageUpdater  (package/)  + package header
//   Updater         (driver/)   + list file: job table and run settings
//
// A test starts from a fresh Updater and hands it to an operation of any
// layer.
#pragma once

#include "driver/run_observer.h"
#include "driver/run_state.h"
#include "package/package_updater.h"

struct Updater : PackageUpdater {
  using PackageUpdater::PackageUpdater;

  RunList run;  // list file: job table and run settings
  RunObserver* run_observer = nullptr;  // told of each job's start and end; may be null

  // The command line named the VISA implementation (--visa). It is then
  // loaded before the first job of a list that needs the instrument, so that
  // a choice that cannot be loaded stops the run before any job has run.
  // Otherwise VISA loads when the first such job starts, and a list of shell
  // commands runs on a station without VISA.
  bool visa_chosen = false;
};
