// Making the main firmware jump to its bootloader, in the way the update's
// entry mode asks for. reconnect() follows every jump.
#pragma once

#include "link/instrument_link.h"
#include "link/usb_requests.h"

constexpr uint32_t kJumpSettleMs = 100;  // mode 0: after the jump command, before the request
constexpr uint32_t kJumpLeadMs = 1000;   // modes 2 and 3: before the jump command

// Mode 0: writes jump_cmd exactly as stored, sleeps 100 ms, then sends the
// interface request when comm_reset (the update's setting) is non-zero; the
// request's result is not examined. buffer is only handed to the request,
// which sends nothing from it. Returns 0; or 1 after "Device is failed
// connected. (5)" and a pause when the write failed.
int panel_jump_boot(InstrumentLink& u, const char* jump_cmd, char* buffer, int comm_reset);

// Mode 1: prints "jump bootloader...." and sends the device request; its
// result is not examined. buffer is only handed to the request.
void comm_jump_boot(InstrumentLink& u, char* buffer);

// Modes 2 and 3: sleeps 1000 ms, then writes jump_cmd exactly as stored.
// Returns 0; or 1 after "(5)" and a pause when the write failed.
int other_jump_boot(InstrumentLink& u, const char* jump_cmd);
