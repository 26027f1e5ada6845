#include "link/bootloader_entry.h"

#include <cstring>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"

namespace {

int write_jump_command(InstrumentLink& u, const char* jump_cmd) {
  u.link.status = u.visa->viWrite(u.link.vi, reinterpret_cast<const unsigned char*>(jump_cmd),
                                  static_cast<ViUInt32>(strlen(jump_cmd)), &u.link.retCnt);
  if (u.link.status == VI_SUCCESS) return kOk;
  return report_failure_and_pause(u.os, msg::kDeviceFailed5);
}

void send_jump_request(InstrumentLink& u, ViInt16 request_type, char* buffer) {
  u.link.status = u.visa->viUsbControlOut(u.link.vi, request_type, 0, 0, 0, 0,
                                          reinterpret_cast<unsigned char*>(buffer));
}

}  // namespace

int panel_jump_boot(InstrumentLink& u, const char* jump_cmd, char* buffer, int comm_reset) {
  if (write_jump_command(u, jump_cmd) != kOk) return kFailed;
  u.os.sleep_ms(kJumpSettleMs);
  if (comm_reset != 0) send_jump_request(u, kRequestToInterface, buffer);
  return kOk;
}

void comm_jump_boot(InstrumentLink& u, char* buffer) {
  printf_plain(u.os, msg::kJumpBootloader);
  send_jump_request(u, kRequestToDevice, buffer);
}

int other_jump_boot(InstrumentLink& u, const char* jump_cmd) {
  u.os.sleep_ms(kJumpLeadMs);
  return write_jump_command(u, jump_cmd);
}
