// The transport seam of the built-in USBTMC driver: the handful of USB
// operations it needs, as libusb-1.0 offers them. The real one is
// libusb_transport.cc; the tests put an in-process USB device behind it.
//
// Every operation returns a UsbResult. Transfers report the bytes moved in
// *transferred also when they fail (a time-out may have moved some).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace usbtmc {

enum class UsbResult {
  kOk,
  kIo,         // any other failure of the transfer or the request
  kAccess,     // no permission to open the device
  kNoDevice,   // the device is gone (unplugged, re-enumerated)
  kBusy,       // another program (or driver) holds the interface
  kTimeout,    // the time-out passed; *transferred bytes came
  kPipe,       // the endpoint or the control request stalled
  kOverflow,   // the device sent more than the buffer holds
  kNotFound,   // no such device or interface, or no kernel driver bound
  kNotSupported,
};

// One USBTMC interface (class 0xFE, subclass 0x03) as its descriptors give it.
struct TmcInterface {
  uint8_t number = 0;
  uint8_t protocol = 0;  // 0 USBTMC, 1 USB488
  uint8_t bulk_out = 0;  // endpoint addresses
  uint8_t bulk_in = 0;
  uint8_t interrupt_in = 0;  // 0: none
  uint16_t bulk_out_packet = 0;  // wMaxPacketSize
  uint16_t bulk_in_packet = 0;
};

// A device with at least one USBTMC interface.
struct TmcDevice {
  uint8_t bus = 0;      // where it is now; an address is not reused while it is present
  uint8_t address = 0;
  uint16_t idVendor = 0;
  uint16_t idProduct = 0;
  std::string serial;   // iSerialNumber; empty when it could not be read
  std::vector<TmcInterface> interfaces;
};

// An open device.
class UsbHandle {
 public:
  virtual ~UsbHandle() = default;

  // *active: a kernel driver is bound to the interface.
  virtual UsbResult kernel_driver_active(uint8_t interface_number, bool* active) = 0;
  virtual UsbResult detach_kernel_driver(uint8_t interface_number) = 0;
  virtual UsbResult attach_kernel_driver(uint8_t interface_number) = 0;
  virtual UsbResult claim_interface(uint8_t interface_number) = 0;
  virtual UsbResult release_interface(uint8_t interface_number) = 0;

  // A control transfer; the direction is bit 7 of bmRequestType. data holds
  // wLength bytes. timeout_ms 0 waits without end.
  virtual UsbResult control(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                            uint8_t* data, uint16_t wLength, uint32_t timeout_ms, int* transferred) = 0;
  virtual UsbResult bulk_out(uint8_t endpoint, const uint8_t* data, int length, uint32_t timeout_ms,
                             int* transferred) = 0;
  // Ends when length bytes came or at a short (or zero-length) packet.
  virtual UsbResult bulk_in(uint8_t endpoint, uint8_t* data, int length, uint32_t timeout_ms,
                            int* transferred) = 0;
  virtual UsbResult clear_halt(uint8_t endpoint) = 0;
};

class UsbTransport {
 public:
  virtual ~UsbTransport() = default;

  // The devices with a USBTMC interface present now: a fresh list at every
  // call. Devices whose descriptors cannot be read are left out.
  virtual UsbResult list_devices(std::vector<TmcDevice>* out) = 0;

  // Opens the device at bus/address. kAccess without permission, kNoDevice
  // when it is not there any more.
  virtual UsbResult open(uint8_t bus, uint8_t address, std::unique_ptr<UsbHandle>* out) = 0;
};

// "timeout", "no device" ...: for messages.
const char* usb_result_name(UsbResult r);

}  // namespace usbtmc
