// A fleet run: the list file once per instrument, each in a child tmflash
// pinned by its serial number (--serial=SN, --no-pause), at most N at a
// time. The operator sees one line per instrument (redrawn in place on a
// terminal, one line per change when piped) and a summary; each child's
// console goes to its own log, and --report gets one entry per instrument.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fleet/instrument_run.h"
#include "fleet/processes.h"
#include "platform/clock.h"
#include "platform/platform.h"

struct FleetOptions {
  std::string program;                     // the tmflash every child runs
  std::vector<std::string> child_options;  // passed on to every child (--visa=...)
  std::string list_file;
  std::vector<FleetJob> list_jobs;         // the list file's jobs, as its children announce them
  int jobs = 0;             // -j: at most this many children at once; 0: all at once
  std::string log;          // --log: the fleet's own lines; the children's logs beside it
  std::string log_dir;      // --log-dir: the children's logs in this folder
  std::string report;       // --report: one entry per instrument
  std::string trace;        // --trace: one trace per instrument beside it
  std::string work_dir;     // a folder of the fleet's own for the children's reports
  std::string version;      // tmflash's, for the log and the report
  std::vector<std::string> arguments;  // the command line after the program's name
};

// Where a child's file goes: path with "-SERIAL" before its extension
// ("station.log" -> "station-SIM0001.log"), or dir/SERIAL + extension when
// dir is given.
std::string per_instrument_path(const std::string& path, const std::string& dir, const std::string& serial,
                                const std::string& extension);

// Runs the fleet over rsrcs (each with a serial number of its own: checked
// before). wall_ms gives the time stamps of the log and the report.
// Returns 0 only when every instrument ended "Update Ok"; 1 otherwise, when
// the operator stopped the fleet (Ctrl-C, SIGTERM: every child is stopped
// first), or when the log or the report cannot be written (nothing is
// started then).
int run_fleet(const FleetOptions& o, const std::vector<std::string>& rsrcs, Processes& processes, Platform& os,
              Clock& clock, const std::function<int64_t()>& wall_ms);
