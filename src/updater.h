// The state of one run of the updater, grouped by owner, and the services it
// reaches the outside world through. Every operation takes the Updater it
// works on, so that a test starts from a fresh one.
#pragma once

#include "driver/run_state.h"
#include "link/link_state.h"
#include "package/package_state.h"
#include "platform/platform.h"
#include "script/file_settings.h"
#include "visa/visa_backend.h"
#include "visa/visa_types.h"

struct Updater {
  explicit Updater(Platform& platform, VisaBackend* visa_backend = nullptr)
      : os(platform), backend(visa_backend) {}
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  Platform& os;
  VisaBackend* backend;            // nullptr: no VISA implementation was chosen
  const VisaApi* visa = nullptr;   // set by ensure_visa() on first use

  RunList run;         // list file: job table and run settings
  LinkState link;      // instrument session
  FileSettings upd;    // per-file update settings and command buffers
  PackageState pkg;    // package header
};
