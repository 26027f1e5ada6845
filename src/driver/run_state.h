// The job table and run settings read from the list file.
#pragma once

#include <cstdint>

constexpr int kMaxJobs = 20;        // job slots a list file can name
constexpr int kCommondSize = 100;   // bytes of one slot's argument, NUL included

// Job kinds stored in commond_mode.
enum JobKind : uint8_t {
  kJobEmpty = 0,
  kJobScript = 1,    // "path": update script file
  kJobMachine = 2,   // "mcmd": text written to the instrument
  kJobSystem = 3,    // "scmd": shell command
  kJobPackage = 4,   // "pt": package file
};

// Written only while the list file is read; zero at start.
struct RunList {
  int list_total = 0;   // number of job slots, at most kMaxJobs
  int list_delay = 0;   // ms to wait after each job, when positive
  int list_pause = 0;   // non-zero: operator pause after each job instead
  int debug_mode = 0;   // non-zero: operator pause after "Update Ok"
  uint8_t commond_mode[kMaxJobs] = {};
  char commond[kMaxJobs][kCommondSize] = {};
};
