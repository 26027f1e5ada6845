// The simulated bootloader's side of the command format: the input is one
// message written to it, in an exact-size buffer, decoded and then received
// by a bootloader with a flash behind it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "visa/sim/boot_frame.h"
#include "visa/sim/bootloader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<char> exact(data, data + size);
  std::string_view message(exact.data(), exact.size());
  sim::BootCommand cmd;
  std::string why;
  if (!sim::decode_boot_message(message, &cmd, &why) && why.empty()) abort();  // a refusal says why

  sim::InstrumentConfig config;
  sim::Bootloader boot(config);
  boot.receive("\"&w@00001000$\"");
  if (boot.receive(message).empty()) abort();  // the bootloader always answers
  return 0;
}
