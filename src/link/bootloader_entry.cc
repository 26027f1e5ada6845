#include "link/bootloader_entry.h"

#include <cstring>

#include "driver/console.h"
#include "messages.h"

namespace {

int write_jump_command(Updater& u, const char* jump_cmd) {
  u.link.status = u.visa->viWrite(u.link.vi, reinterpret_cast<const unsigned char*>(jump_cmd),
                                  static_cast<ViUInt32>(strlen(jump_cmd)), &u.link.retCnt);
  if (u.link.status == VI_SUCCESS) return 0;
  printf_color(u.os, kColourRed, msg::kDeviceFailed5);
  pause(u.os);
  return 1;
}

void send_jump_request(Updater& u, ViInt16 request_type, char* buffer) {
  u.link.status = u.visa->viUsbControlOut(u.link.vi, request_type, 0, 0, 0, 0,
                                          reinterpret_cast<unsigned char*>(buffer));
}

}  // namespace

int panel_jump_boot(Updater& u, const char* jump_cmd, char* buffer) {
  if (write_jump_command(u, jump_cmd) != 0) return 1;
  u.os.sleep_ms(kJumpSettleMs);
  if (u.upd.comm_reset) send_jump_request(u, kRequestToInterface, buffer);
  return 0;
}

void comm_jump_boot(Updater& u) {
  printf_plain(u.os, msg::kJumpBootloader);
  send_jump_request(u, kRequestToDevice, u.upd.src_data);
}

int other_jump_boot(Updater& u, const char* jump_cmd) {
  u.os.sleep_ms(kJumpLeadMs);
  return write_jump_command(u, jump_cmd);
}
