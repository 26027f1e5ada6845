// Stopping the whole run from a place that cannot hand a failure up: a VISA
// call of a replayed trace that the trace does not have. Every call after it
// would be made up, so the run ends there with exit status 1.
#pragma once

#include <functional>
#include <string>

// Called by stop_run with the reason before the process ends: main shows it
// and finishes the run's log and report. Without a hook the reason goes to
// standard error.
void set_stop_hook(std::function<void(const std::string& why)> hook);

// Runs the hook, then ends the process with exit status 1.
[[noreturn]] void stop_run(const std::string& why);
