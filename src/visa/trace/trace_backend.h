// --trace=FILE and --visa=replay:FILE: the trace of every VISA call as JSON
// lines, and a trace played back as the instrument.
//
// One line per call, in the order of the calls (README "Traces"):
//   {"n":5,"t_us":120345,"call":"viWrite","args":{"vi":3,"data":"*IDN?\n"},
//    "status":0,"status_name":"VI_SUCCESS","out":{"count":6},"us":41}
// n counts the calls from 1; t_us is the time of the call since the trace
// began and us its duration, in microseconds; args and out as in
// traced_api.h.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "visa/visa_backend.h"

namespace trace {

// A backend that makes every call on inner and writes it to the trace file
// at path (created or replaced now). nullptr with *why when the file cannot
// be created. One tracing backend at a time.
std::unique_ptr<VisaBackend> make_tracing_backend(std::unique_ptr<VisaBackend> inner, const std::string& path,
                                                  std::string* why);

// What a replay does when the updater makes a call that the trace does not
// have next: it is told why. The default ends the run (stop_run); if it
// returns, that call and every later one give VI_ERROR_SYSTEM_ERROR.
using Mismatch = std::function<void(const std::string& why)>;

// A backend that answers every call from the trace at path: each call must
// be the trace's next one, with the same arguments (handles, texts and bytes
// written included), and gets the status and results recorded there. The
// file is read when the backend loads, line by line as the calls come. One
// replay at a time.
std::unique_ptr<VisaBackend> make_replay_backend(std::string path, Mismatch on_mismatch = nullptr);

// For the value of --visa: "replay:FILE" gives the replay of FILE; anything
// else gives nullptr.
std::unique_ptr<VisaBackend> make_replay_backend_for_option(std::string_view visa_option);

}  // namespace trace
