#include "visa/usb/inprocess_usb.h"

#include <algorithm>
#include <cstring>

namespace usbtmc {

namespace {

constexpr uint8_t kBus = 1;

}  // namespace

class InProcessUsb::Handle : public UsbHandle {
 public:
  Handle(InProcessUsb& usb, int epoch) : usb_(usb), epoch_(epoch) {}

  UsbResult kernel_driver_active(uint8_t n, bool* active) override {
    *active = false;
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    if (n != usb_.quirks_.interface_number) return UsbResult::kNotFound;
    *active = usb_.kernel_bound_;
    return UsbResult::kOk;
  }
  UsbResult detach_kernel_driver(uint8_t) override {
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    if (!usb_.kernel_bound_) return UsbResult::kNotFound;
    usb_.kernel_bound_ = false;
    ++usb_.detaches_;
    return UsbResult::kOk;
  }
  UsbResult attach_kernel_driver(uint8_t) override {
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    if (usb_.claimed_) return UsbResult::kBusy;
    usb_.kernel_bound_ = true;
    ++usb_.attaches_;
    return UsbResult::kOk;
  }
  UsbResult claim_interface(uint8_t n) override {
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    if (n != usb_.quirks_.interface_number) return UsbResult::kNotFound;
    if (usb_.kernel_bound_ || usb_.quirks_.other_program) return UsbResult::kBusy;
    usb_.claimed_ = true;
    return UsbResult::kOk;
  }
  UsbResult release_interface(uint8_t) override {
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    usb_.claimed_ = false;
    return UsbResult::kOk;
  }
  UsbResult control(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t* data,
                    uint16_t wLength, uint32_t, int* transferred) override {
    *transferred = 0;
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    return usb_.control(SetupPacket{bmRequestType, bRequest, wValue, wIndex, wLength}, data, transferred);
  }
  UsbResult bulk_out(uint8_t endpoint, const uint8_t* data, int length, uint32_t, int* transferred) override {
    *transferred = 0;
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    if (endpoint != usb_.quirks_.bulk_out_endpoint || !usb_.claimed_) return UsbResult::kIo;
    return usb_.bulk_out(data, length, transferred);
  }
  UsbResult bulk_in(uint8_t endpoint, uint8_t* data, int length, uint32_t timeout_ms, int* transferred) override {
    *transferred = 0;
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    if (endpoint != usb_.quirks_.bulk_in_endpoint || !usb_.claimed_) return UsbResult::kIo;
    return usb_.bulk_in(data, length, timeout_ms, transferred);
  }
  UsbResult clear_halt(uint8_t endpoint) override {
    if (!usb_.alive(epoch_)) return UsbResult::kNoDevice;
    if (endpoint == usb_.quirks_.bulk_in_endpoint) usb_.halted_ = false;
    return UsbResult::kOk;
  }

 private:
  InProcessUsb& usb_;
  int epoch_;
};

InProcessUsb::InProcessUsb(sim::Simulator& sim, Clock& clock, UsbQuirks quirks, FunctionFaults faults)
    : clock_(clock), quirks_(quirks), function_(sim, 0, faults) {
  kernel_bound_ = quirks_.kernel_driver;
  enumerations_ = function_.present() ? 1 : 0;
}

InProcessUsb::~InProcessUsb() = default;

// A jump makes the device leave; when it comes back it is a new device at a
// new address, with nothing of the old one's state.
bool InProcessUsb::sync() {
  if (function_.refresh()) {
    ++epoch_;
    in_.clear();
    in_offset_ = 0;
    halted_ = false;
    claimed_ = false;
    hold_tag_ = 0;
    held_.clear();
    kernel_bound_ = quirks_.kernel_driver;
    if (function_.present()) {
      ++address_;
      ++enumerations_;
    }
  }
  return function_.present() && !unplugged_;
}

UsbResult InProcessUsb::list_devices(std::vector<TmcDevice>* out) {
  out->clear();
  if (!sync()) return UsbResult::kOk;
  TmcDevice d;
  d.bus = kBus;
  d.address = address_;
  d.idVendor = function_.identity().idVendor;
  d.idProduct = function_.identity().idProduct;
  d.serial = quirks_.serial_unreadable ? "" : function_.identity().serial;
  TmcInterface i;
  i.number = quirks_.interface_number;
  i.bulk_out = quirks_.bulk_out_endpoint;
  i.bulk_in = quirks_.bulk_in_endpoint;
  i.bulk_out_packet = quirks_.packet_size;
  i.bulk_in_packet = quirks_.packet_size;
  d.interfaces.push_back(i);
  out->push_back(d);
  return UsbResult::kOk;
}

UsbResult InProcessUsb::open(uint8_t bus, uint8_t address, std::unique_ptr<UsbHandle>* out) {
  if (!sync() || bus != kBus || address != address_) return UsbResult::kNoDevice;
  if (quirks_.access_denied) return UsbResult::kAccess;
  *out = std::make_unique<Handle>(*this, epoch_);
  return UsbResult::kOk;
}

// --- Bulk --------------------------------------------------------------------

UsbResult InProcessUsb::bulk_out(const uint8_t* data, int length, int* transferred) {
  if (++bulk_outs_ == quirks_.bulk_out_timeout_at) return UsbResult::kTimeout;
  bulk_out_.emplace_back(data, data + length);
  if (length >= static_cast<int>(kHeaderSize) && data[0] == REQUEST_DEV_DEP_MSG_IN) {
    ++requests_;
    if (requests_ == quirks_.stuck_request || requests_ == quirks_.late_reply) {
      hold_tag_ = data[1];
      hold_until_late_ = requests_ == quirks_.late_reply;
    }
  }
  function_.bulk_out(data, static_cast<size_t>(length), true);
  collect_replies();
  *transferred = length;
  return UsbResult::kOk;
}

void InProcessUsb::collect_replies() {
  std::vector<uint8_t> reply;
  while (function_.take_bulk_in(&reply)) {
    if (hold_tag_ != 0 && reply[1] == hold_tag_) {
      held_ = std::move(reply);
    } else {
      queue_reply(std::move(reply));
    }
  }
}

// Cuts a reply into the transfers the quirks say.
void InProcessUsb::queue_reply(std::vector<uint8_t> reply) {
  if (quirks_.cut_reply != 0 && reply.size() > quirks_.cut_reply) reply.resize(quirks_.cut_reply);
  if (!quirks_.header_alone && quirks_.split_data == 0) {
    in_.push_back(std::move(reply));
    return;
  }
  // The header goes alone, or with the first piece of the data.
  size_t piece = quirks_.split_data ? quirks_.split_data : reply.size();
  size_t at = 0;
  size_t end = quirks_.header_alone ? kHeaderSize : std::min(reply.size(), kHeaderSize + piece);
  while (at < reply.size()) {
    in_.emplace_back(reply.begin() + static_cast<std::ptrdiff_t>(at), reply.begin() + static_cast<std::ptrdiff_t>(end));
    at = end;
    end = std::min(reply.size(), at + piece);
  }
}

UsbResult InProcessUsb::bulk_in(uint8_t* data, int length, uint32_t timeout_ms, int* transferred) {
  if (++bulk_ins_ == quirks_.stall_bulk_in_at) {
    halted_ = true;
    in_.clear();  // the device gave up the transfer it was sending
    in_offset_ = 0;
  }
  if (halted_) return UsbResult::kPipe;
  if (in_.empty()) {
    clock_.wait_ms(timeout_ms);
    return UsbResult::kTimeout;
  }
  const std::vector<uint8_t>& front = in_.front();
  size_t remaining = front.size() - in_offset_;
  size_t room = static_cast<size_t>(length);
  if (remaining <= room) {
    memcpy(data, front.data() + in_offset_, remaining);
    *transferred = static_cast<int>(remaining);
    in_.pop_front();
    in_offset_ = 0;
    return UsbResult::kOk;
  }
  size_t whole_packets = room / quirks_.packet_size * quirks_.packet_size;
  memcpy(data, front.data() + in_offset_, whole_packets);
  in_offset_ += whole_packets;
  *transferred = static_cast<int>(whole_packets);
  // A packet that does not fit the rest of the buffer overflows it.
  return whole_packets == room ? UsbResult::kOk : UsbResult::kOverflow;
}

// --- Control -----------------------------------------------------------------

UsbResult InProcessUsb::control(const SetupPacket& setup, uint8_t* data, int* transferred) {
  controls_.push_back(setup);
  if (abort_held_reply(setup, data, transferred)) return UsbResult::kOk;
  ControlAnswer a = function_.control(setup, data);
  if (a.stall) return UsbResult::kPipe;
  *transferred = (setup.bmRequestType & kDirectionIn) ? a.length : setup.wLength;
  collect_replies();
  return UsbResult::kOk;
}

// The abort of a held reply: a stuck reply goes; a late one fails to be
// aborted and comes out now, to meet the host's next request.
bool InProcessUsb::abort_held_reply(const SetupPacket& setup, uint8_t* data, int* transferred) {
  bool abort_in = setup.bmRequestType == kClassInEndpoint && setup.bRequest == INITIATE_ABORT_BULK_IN;
  if (!abort_in || hold_tag_ == 0 || static_cast<uint8_t>(setup.wValue) != hold_tag_) return false;
  if (function_.waiting_request() == hold_tag_) return false;  // not answered yet: nothing is held
  uint8_t status = STATUS_SUCCESS;
  if (hold_until_late_) {
    status = STATUS_FAILED;
    queue_reply(std::move(held_));
  }
  held_.clear();
  hold_tag_ = 0;
  uint8_t answer[kAbortReplySize] = {status, static_cast<uint8_t>(setup.wValue)};
  *transferred = std::min<int>(setup.wLength, kAbortReplySize);
  memcpy(data, answer, static_cast<size_t>(*transferred));
  return true;
}

}  // namespace usbtmc
