// The USB vendor control requests the link sends to the instrument: the
// mode-1 probe asks by control-IN, the jumps of modes 0 and 1 by control-OUT.
// Every other field of these requests (bRequest, wValue, wIndex) is 0.
#pragma once

#include "visa/visa_types.h"

constexpr ViInt16 kRequestToInterface = 0x41;  // host to device, vendor, interface: mode-0 jump
constexpr ViInt16 kRequestToDevice = 0x40;     // host to device, vendor, device: mode-1 jump
constexpr ViInt16 kRequestFromDevice = 0xC0;   // device to host, vendor, device: mode-1 probe

constexpr ViUInt16 kProbeReplyLength = 10;  // wLength of the mode-1 probe: its reply text
