// The record of every VISA call the simulated instruments answered: one
// structured entry per call, and a one-line text form of it, e.g.
//
//   t=0 viOpenDefaultRM -> VI_SUCCESS rm=1
//   t=0 viFindRsrc rm=1 expr="USB[0-9]*::?*::INSTR" -> VI_SUCCESS list=2 count=1 desc="USB0::..."
//   t=0 viFindNext list=2 -> VI_ERROR_RSRC_NFOUND
//   t=0 viOpen rm=1 rsrc="USB0::..." mode=0 timeout=1000 -> VI_SUCCESS vi=3 [sim0]
//   t=0 viSetAttribute obj=3 attr=0x3FFF001A value=2000 -> VI_SUCCESS
//   t=0 viWrite vi=3 [sim0] "*IDN?\n" -> VI_SUCCESS count=6
//   t=0 viRead vi=3 [sim0] max=100 -> VI_SUCCESS "TMSIM,TM1000,SIM0001,1.03\n"
//   t=0 viUsbControlIn vi=3 [sim0] 0xC0 0 0 0 10 -> VI_SUCCESS "bt_2.05"
//   t=0 viUsbControlOut vi=3 [sim0] 0x40 0 0 0 0 "" -> VI_SUCCESS
//   t=0 viClose obj=1 -> VI_SUCCESS
//
// t is the clock's time in ms since the simulator started; [name] is the
// instrument a session call reached; viWrite shows the bytes it was given and
// the count moved (0 when it failed). Bytes are quoted, with \n \r \t \\ \"
// and \xNN (upper-case hex) for everything outside printable ASCII.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "visa/visa_types.h"

namespace sim {

struct ControlRequest {
  bool in = false;  // viUsbControlIn (else viUsbControlOut)
  ViInt16 bmRequestType = 0;
  ViInt16 bRequest = 0;
  ViUInt16 wValue = 0;
  ViUInt16 wIndex = 0;
  ViUInt16 wLength = 0;
  std::string data;  // OUT: the data stage sent; IN: the bytes returned
  ViStatus status = VI_SUCCESS;
};

struct CallRecord {
  uint64_t time_ms = 0;
  std::string function;  // "viWrite", ...
  ViStatus status = VI_SUCCESS;
  ViObject object = 0;   // the handle the call was made on; 0 for viOpenDefaultRM
  int instrument = -1;   // the instrument a session call reached, -1 for none
  std::string text;      // viFindRsrc: the expression; viOpen: the resource name
  uint64_t value = 0;    // viOpen: mode; viSetAttribute: attribute; viRead: count asked
  uint64_t value2 = 0;   // viOpen: open time-out; viSetAttribute: the value; viFindRsrc: matches
  ViUInt32 result = 0;   // handle made (rm, list, vi), or bytes moved
  std::string out;       // bytes written (viWrite, control-OUT data)
  std::string in;        // bytes read (viRead, control-IN), resource string found
  ControlRequest control;  // viUsbControlIn / viUsbControlOut
  std::string line;      // the one-line text form
};

// "VI_SUCCESS", "VI_ERROR_TMO", ... or "0x...." for a code without a name.
std::string status_name(ViStatus status);

// bytes in double quotes, escaped as described above.
std::string quoted(std::string_view bytes);

// The one-line text form of rec (without a line end); instrument_name is the
// name shown in brackets, empty for none.
std::string format_call(const CallRecord& rec, std::string_view instrument_name);

}  // namespace sim
