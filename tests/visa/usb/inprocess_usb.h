// An in-process USB device behind the transport seam: one USBTMC instrument
// (the shared device side, tmc_function.h, serving a simulated instrument),
// with the ways of real devices that hosts must cope with switched on from a
// table, and everything the host sent kept for the tests to read.
//
// Transfers follow libusb's rules: a bulk-IN transfer ends at a short packet
// or when the buffer is full; a buffer that is no multiple of the packet size
// and too small for what comes overflows. Waiting takes the clock's time:
// a bulk-IN transfer with nothing to read lets its time-out pass on the
// clock (virtual time in tests) and times out.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "visa/sim/simulator.h"
#include "visa/usb/device/tmc_function.h"
#include "visa/usb/usb_transport.h"

namespace usbtmc {

// Field quirks of USBTMC devices, one switch each.
struct UsbQuirks {
  bool header_alone = false;      // every reply's header is a transfer of its own, the data follows
  uint32_t split_data = 0;        // the reply's data comes in transfers of at most this many bytes
  uint16_t packet_size = 512;     // bulk wMaxPacketSize: 64 at full speed
  uint32_t stall_bulk_in_at = 0;  // the N-th bulk-IN transfer stalls the endpoint until cleared
  uint32_t stuck_request = 0;     // the reply to the N-th request stays stuck until the host aborts it
  uint32_t late_reply = 0;        // the N-th request is answered only after its abort failed: a stale reply
  uint32_t cut_reply = 0;         // of every reply only the first N bytes come; the rest is lost
  uint32_t bulk_out_timeout_at = 0;  // the N-th bulk-OUT transfer times out, nothing of it arrives
  bool kernel_driver = false;     // the kernel's usbtmc driver is bound whenever the device enumerates
  bool other_program = false;     // another program holds the interface
  bool access_denied = false;     // the user may not open the device node
  bool serial_unreadable = false; // its serial number cannot be read
  uint8_t interface_number = 0;
  uint8_t bulk_out_endpoint = 0x01;
  uint8_t bulk_in_endpoint = 0x82;
};

class InProcessUsb : public UsbTransport {
 public:
  // The instrument is sim's first; sim and clock must outlive the device.
  InProcessUsb(sim::Simulator& sim, Clock& clock, UsbQuirks quirks = {}, FunctionFaults faults = {});
  ~InProcessUsb() override;

  UsbResult list_devices(std::vector<TmcDevice>* out) override;
  UsbResult open(uint8_t bus, uint8_t address, std::unique_ptr<UsbHandle>* out) override;

  // --- For tests ---------------------------------------------------------
  // The device is pulled out for good.
  void unplug() { unplugged_ = true; }
  // Every bulk-OUT transfer as it came, and every control request.
  const std::vector<std::vector<uint8_t>>& bulk_out_transfers() const { return bulk_out_; }
  const std::vector<SetupPacket>& control_requests() const { return controls_; }
  bool kernel_driver_bound() const { return kernel_bound_; }
  bool claimed() const { return claimed_; }
  int detaches() const { return detaches_; }
  int attaches() const { return attaches_; }
  uint8_t address() const { return address_; }
  // Times the device enumerated (1 at the start, +1 after each jump).
  int enumerations() const { return enumerations_; }

 private:
  class Handle;
  friend class Handle;

  bool sync();  // follows the instrument; false when the device is absent
  bool alive(int epoch) { return sync() && epoch == epoch_; }
  void collect_replies();
  void queue_reply(std::vector<uint8_t> reply);
  UsbResult bulk_out(const uint8_t* data, int length, int* transferred);
  UsbResult bulk_in(uint8_t* data, int length, uint32_t timeout_ms, int* transferred);
  UsbResult control(const SetupPacket& setup, uint8_t* data, int* transferred);
  bool abort_held_reply(const SetupPacket& setup, uint8_t* data, int* transferred);

  Clock& clock_;
  UsbQuirks quirks_;
  TmcFunction function_;
  bool unplugged_ = false;
  int epoch_ = 0;
  int enumerations_ = 0;
  uint8_t address_ = 1;
  bool kernel_bound_ = false;
  bool claimed_ = false;
  bool halted_ = false;
  int detaches_ = 0;
  int attaches_ = 0;
  uint32_t requests_ = 0;
  uint32_t bulk_ins_ = 0;
  uint32_t bulk_outs_ = 0;
  uint8_t hold_tag_ = 0;        // the reply to this request is held back
  bool hold_until_late_ = false;
  std::vector<uint8_t> held_;
  std::deque<std::vector<uint8_t>> in_;  // bulk-IN transfers, each ending in a short packet
  size_t in_offset_ = 0;                 // bytes of in_.front() already read
  std::vector<std::vector<uint8_t>> bulk_out_;
  std::vector<SetupPacket> controls_;
};

}  // namespace usbtmc
