// What the instrument link works on: the platform it reports through, the
// VISA implementation and the link state. The layers above extend it with
// their own state (ScriptUpdater, PackageUpdater, Updater), so an operation
// of the link can reach nothing but this.
#pragma once

#include "link/instrument_choice.h"
#include "link/link_observer.h"
#include "link/link_state.h"
#include "platform/platform.h"
#include "visa/visa_backend.h"
#include "visa/visa_types.h"

struct InstrumentLink {
  explicit InstrumentLink(Platform& platform, VisaBackend* visa_backend = nullptr)
      : os(platform), backend(visa_backend) {}
  InstrumentLink(const InstrumentLink&) = delete;
  InstrumentLink& operator=(const InstrumentLink&) = delete;

  Platform& os;
  VisaBackend* backend;           // nullptr: no VISA implementation was chosen
  const VisaApi* visa = nullptr;  // set by ensure_visa() on first use
  LinkState link;                 // instrument session
  InstrumentChoice choice;        // the station's rule in place of the dialogue
  LinkObserver* observer = nullptr;  // told of choices and version replies; may be null
};
