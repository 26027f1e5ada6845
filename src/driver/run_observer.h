// What the job runner lets a watcher of the run know: each job as it starts
// and ends. The run's log and report are built from it; the runner works the
// same whether anyone watches or not.
#pragma once

#include "driver/run_state.h"

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // The job of slot is about to run: its kind and its argument (the text of
  // its list-file key).
  virtual void job_started(int slot, JobKind kind, const char* argument) = 0;

  // The job of slot has ended with result: 0 done, anything else failed
  // (the run stops after it).
  virtual void job_finished(int slot, int result) = 0;
};

// The list-file key of a job kind, as operators write it: "path", "mcmd",
// "scmd", "pt"; "" for an empty slot.
const char* job_kind_key(JobKind kind);
