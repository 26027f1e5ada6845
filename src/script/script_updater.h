// What the script updater works on: the instrument link and the per-file
// update settings with their command buffers. The package updater runs its
// firmware sections through the same command execution, so it extends this.
#pragma once

#include "link/instrument_link.h"
#include "script/file_settings.h"

struct ScriptUpdater : InstrumentLink {
  using InstrumentLink::InstrumentLink;

  FileSettings upd;  // per-file update settings and command buffers
};
