// The ten VISA functions as a table that hands every call, with its
// arguments as the trace writes them, to a call handler: the trace writer
// (which makes the call on the real table and writes it down) or the replay
// (which answers from a recorded trace). The VISA C functions carry no user
// pointer, so each handler has a slot of its own, and one handler serves a
// slot at a time.
//
// A call as the trace sees it (README "Traces"): its name, its arguments and
// what it gave back, as JSON objects.
//   viOpenDefaultRM  args {}                                   out {rm}
//   viFindRsrc       args {rm, expr}                           out {list, count, desc}
//   viFindNext       args {list}                               out {desc}
//   viOpen           args {rm, rsrc, mode, timeout}            out {vi}
//   viClose          args {obj}                                out {}
//   viSetAttribute   args {obj, attr, value}                   out {}
//   viWrite          args {vi, data}                           out {count}
//   viRead           args {vi, max}                            out {data, count}
//   viUsbControlIn   args {vi, type, request, value, index, length}        out {data, count}
//   viUsbControlOut  args {vi, type, request, value, index, length, data}  out {}
// Bytes (data) are a JSON string whose characters U+0000 .. U+00FF stand for
// one byte each (ISO 8859-1), so every byte round-trips and text stays
// readable; desc, expr and rsrc are such strings too.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "visa/visa_types.h"

namespace trace {

using json = nlohmann::ordered_json;

// Makes the real call on api and puts what it gave back into *out.
using Perform = std::function<ViStatus(const VisaApi& api, json* out)>;

class CallHandler {
 public:
  virtual ~CallHandler() = default;
  // One call: returns its status and leaves in *out what the caller gets
  // back (perform may be run to get them, or not).
  virtual ViStatus call(const char* name, const json& args, const Perform& perform, json* out) = 0;
};

enum Slot { kTraceSlot = 0, kReplaySlot = 1, kSlotCount = 2 };

// The table of slot's ten functions; the same one on every call.
const VisaApi* handler_visa_api(Slot slot);

// Makes handler serve slot (nullptr: none; every call then gives
// VI_ERROR_SYSTEM_ERROR).
void set_call_handler(Slot slot, CallHandler* handler);
CallHandler* call_handler(Slot slot);

// bytes as a trace string (one character U+0000 .. U+00FF per byte).
std::string bytes_text(std::string_view bytes);
// The bytes of a trace string; false when it holds a character beyond
// U+00FF or is not UTF-8.
bool text_bytes(std::string_view text, std::string* bytes);

}  // namespace trace
