// USB INSTR resource strings of the built-in USBTMC driver:
//
//   USB[board]::manufacturer ID::model code::serial number[::interface number][::INSTR]
//
// Searches name every instrument as installed VISA libraries do, with the IDs
// as 0x and four upper-case hex digits, board 0, and the interface number
// only when it is not 0: USB0::0x1234::0x5678::SN0001::INSTR,
// USB0::0x1234::0x5678::SN0001::2::INSTR. Operators copy resource strings
// from other tools, so opening also takes the IDs in decimal or in hex of
// either case, "USB" without a board number, the "::INSTR" left out, and the
// words in any case.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace usbtmc {

struct UsbResource {
  uint32_t board = 0;
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  std::string serial;  // the device's iSerialNumber string
  uint8_t interface_number = 0;
};

// Parses text. Returns false for anything that is not a USB INSTR resource
// string (another interface type, a RAW resource, an ID beyond 16 bits, an
// empty serial ...).
bool parse_usb_resource(std::string_view text, UsbResource* out);

// The resource string under which a search lists the instrument.
std::string format_usb_resource(const UsbResource& r);

}  // namespace usbtmc
