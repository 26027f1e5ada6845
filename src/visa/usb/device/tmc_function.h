// The device side of USBTMC, serving a simulated instrument: what an
// instrument's firmware does with the bulk transfers and the control
// requests of its USBTMC interface. The in-process USB device of the tests
// and the FunctionFS gadget of the virtual machine's tests both run this one
// implementation; they only move its bytes.
//
// Bulk-OUT. Bytes arrive in any pieces (bulk_out); the function finds the
// transfers by their headers. DEV_DEP_MSG_OUT transfers are gathered until
// one carries EOM, and the whole message is written to the instrument.
// REQUEST_DEV_DEP_MSG_IN asks for a reply: when the instrument has output,
// a DEV_DEP_MSG_IN transfer (header, at most TransferSize bytes, zero bytes
// to a multiple of 4) is queued for bulk-IN, EOM set when the instrument's
// output ends with it; when it has none, the request waits (the host times
// out and aborts it). A transfer with a bad header is dropped.
//
// Control requests: the class requests (GET_CAPABILITIES, the aborts and
// their status, INITIATE_CLEAR, CHECK_CLEAR_STATUS, INDICATOR_PULSE) are
// answered here; vendor requests go to the instrument (the jump requests of
// the main firmware, the version text of the control-IN request); anything
// else stalls.
//
// Presence. After the main firmware jumps, the device is gone until the
// instrument's reboot time has passed; then it enumerates again as the
// bootloader, with the bootloader's IDs and the same serial. refresh() follows
// the instrument and says when the device left or came back.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "visa/sim/simulator.h"
#include "visa/usb/usb_resource.h"
#include "visa/usb/usbtmc_wire.h"

namespace usbtmc {

// A control request's setup stage.
struct SetupPacket {
  uint8_t bmRequestType = 0;
  uint8_t bRequest = 0;
  uint16_t wValue = 0;
  uint16_t wIndex = 0;
  uint16_t wLength = 0;
};

// What the function did with a control request.
struct ControlAnswer {
  bool stall = false;
  uint16_t length = 0;  // IN: bytes of the answer written to the data buffer
};

// Ways of a device that hosts must cope with, and faults.
struct FunctionFaults {
  // After this many replies the device answers no request any more (it stops
  // answering in the middle of an update); 0: never.
  uint32_t stop_answering_after = 0;
  // A reply carries at most this many bytes, whatever the request allowed;
  // the rest follows on the next request (EOM only on the last); 0: no cap.
  uint32_t reply_cap = 0;
};

class TmcFunction {
 public:
  // The instrument must be one of sim's; sim must outlive the function.
  TmcFunction(sim::Simulator& sim, size_t instrument, FunctionFaults faults = {});
  ~TmcFunction();
  TmcFunction(const TmcFunction&) = delete;
  TmcFunction& operator=(const TmcFunction&) = delete;

  // Follows the instrument. Returns true when the device left (the jump) or
  // came back (as the bootloader) since the last call: the host sees a
  // disconnect, or a new device.
  bool refresh();
  bool present() const { return present_; }
  // The IDs and serial of the device as it enumerates now.
  const UsbResource& identity() const { return identity_; }

  // Bytes that came on bulk-OUT. transfer_ended: the host's transfer ended
  // with them (a short packet): a transfer shorter than its header says, or
  // without its alignment bytes, is taken as it is.
  void bulk_out(const uint8_t* data, size_t length, bool transfer_ended);
  // Bytes still missing from the transfer begun on bulk-OUT (the header when
  // none is begun): how much the next read may take without reaching into
  // the transfer after it.
  size_t bulk_out_wanted() const;

  // The next DEV_DEP_MSG_IN transfer to send on bulk-IN; false when none is
  // ready. The caller sends it whole.
  bool take_bulk_in(std::vector<uint8_t>* transfer);
  bool bulk_in_ready() const { return !replies_.empty(); }
  // The tag of the request that waits for output, 0 when none does.
  uint8_t waiting_request() const { return waiting_ ? waiting_tag_ : 0; }

  // A control request. For an OUT request data holds the wLength bytes from
  // the host; for an IN request the answer is written to data (wLength
  // bytes of room).
  ControlAnswer control(const SetupPacket& setup, uint8_t* data);

  // Replies sent so far (the fault counts these).
  uint32_t replies_made() const { return replies_made_; }

 private:
  void reset_protocol();
  bool take_transfer();
  void receive_transfer(const Header& h, const uint8_t* data, size_t length);
  void deliver_message();
  void answer_waiting_request();
  ControlAnswer class_request(const SetupPacket& setup, uint8_t* data);
  ControlAnswer vendor_request(const SetupPacket& setup, uint8_t* data);
  void open_instrument_session();
  void close_instrument_session();

  sim::Simulator& sim_;
  size_t instrument_;
  FunctionFaults faults_;
  int state_ = -1;  // the sim::InstrumentState last seen
  bool present_ = false;
  UsbResource identity_;
  ViSession rm_ = 0;
  ViSession vi_ = 0;

  std::vector<uint8_t> transfer_;  // the bulk-OUT transfer being received
  std::string message_;            // DEV_DEP_MSG_OUT bytes until EOM
  bool waiting_ = false;           // a REQUEST_DEV_DEP_MSG_IN waits for output
  uint8_t waiting_tag_ = 0;
  uint32_t waiting_size_ = 0;
  uint8_t last_out_tag_ = 0;
  std::deque<std::vector<uint8_t>> replies_;
  uint32_t replies_made_ = 0;
};

}  // namespace usbtmc
