// tmflash --all: reads the list file, searches once with its search
// expression, refuses instruments that cannot be told apart by serial
// number, and runs the fleet (fleet_run.h). Nothing is started before every
// check has passed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fleet/fleet_run.h"
#include "fleet/processes.h"
#include "platform/clock.h"
#include "platform/platform.h"
#include "visa/visa_backend.h"

// Runs o (its work_dir is made here, in the system's temporary folder, and
// removed at the end) with the VISA implementation visa. Returns the exit
// status: 1 after a red "tmflash: ..." line on standard error when the list
// file names no job for an instrument, VISA cannot be loaded, the search
// finds nothing, or instruments share a serial number or have none; after
// the list file's own message when it cannot be read; else run_fleet's.
int fleet_main(FleetOptions o, VisaBackend& visa, Processes& processes, Platform& os, Clock& clock,
               const std::function<int64_t()>& wall_ms);
