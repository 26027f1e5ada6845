#include "visa/usb/usbtmc_session.h"

#include <algorithm>
#include <cstring>

namespace usbtmc {

namespace {

constexpr uint16_t kFallbackPacket = 512;  // for a descriptor that gives 0 or more than 1024
constexpr uint16_t kMaxPacket = 1024;

size_t round_up(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

uint16_t usable_packet(uint16_t wMaxPacketSize) {
  return (wMaxPacketSize == 0 || wMaxPacketSize > kMaxPacket) ? kFallbackPacket : wMaxPacketSize;
}

}  // namespace

TmcSession::TmcSession(std::unique_ptr<UsbHandle> handle, const TmcInterface& interface, Clock& clock)
    : handle_(std::move(handle)), interface_(interface), clock_(clock),
      in_packet_(usable_packet(interface.bulk_in_packet)) {}

TmcSession::~TmcSession() { close(); }

// --- Open and close ----------------------------------------------------------

UsbResult TmcSession::open() {
  bool active = false;
  if (handle_->kernel_driver_active(interface_.number, &active) == UsbResult::kOk && active) {
    UsbResult r = handle_->detach_kernel_driver(interface_.number);
    if (r != UsbResult::kOk) return r;
    detached_ = true;
  }
  UsbResult r = handle_->claim_interface(interface_.number);
  if (r != UsbResult::kOk) {
    if (detached_) handle_->attach_kernel_driver(interface_.number);
    detached_ = false;
    return r;
  }
  claimed_ = true;
  // No INITIATE_CLEAR here: some instruments hang on it.
  get_capabilities();
  if (lost_) {
    close();
    return UsbResult::kNoDevice;
  }
  return UsbResult::kOk;
}

void TmcSession::close() {
  if (!handle_) return;
  if (claimed_) handle_->release_interface(interface_.number);
  if (detached_) handle_->attach_kernel_driver(interface_.number);
  claimed_ = false;
  detached_ = false;
  handle_.reset();
  lost_ = true;
}

void TmcSession::get_capabilities() {
  uint8_t reply[kCapabilitiesSize] = {};
  int got = 0;
  UsbResult r = handle_->control(kClassInInterface, GET_CAPABILITIES, 0, interface_.number, reply,
                                 kCapabilitiesSize, kControlTimeoutMs, &got);
  if (r == UsbResult::kNoDevice) lost_ = true;
  if (r != UsbResult::kOk || got < 6 || reply[0] != STATUS_SUCCESS) return;
  capabilities_.valid = true;
  capabilities_.bcdUSBTMC = static_cast<uint16_t>(reply[2] | reply[3] << 8);
  capabilities_.USBTMC_interface_capabilities = reply[4];
  capabilities_.USBTMC_device_capabilities = reply[5];
}

// --- Helpers -------------------------------------------------------------------

uint8_t TmcSession::new_tag() {
  tag_ = next_tag(tag_);
  return tag_;
}

// VISA's "infinite" is the transport's 0; VISA's 0 ("do not wait") is the
// shortest wait the transport has, 1 ms.
uint32_t TmcSession::usb_timeout() const { return timeout_ms_ == VI_TMO_INFINITE ? 0 : std::max(timeout_ms_, 1u); }

ViStatus TmcSession::status_of(UsbResult r, uint8_t endpoint) {
  switch (r) {
    case UsbResult::kOk: return VI_SUCCESS;
    case UsbResult::kTimeout: return VI_ERROR_TMO;
    case UsbResult::kNoDevice: lost_ = true; return VI_ERROR_CONN_LOST;
    case UsbResult::kPipe:
      // A stalled endpoint stays stalled until the host clears it.
      if (endpoint != 0 && handle_->clear_halt(endpoint) == UsbResult::kNoDevice) {
        lost_ = true;
        return VI_ERROR_CONN_LOST;
      }
      return VI_ERROR_IO;
    case UsbResult::kAccess: return VI_ERROR_NPERMISSION;
    case UsbResult::kBusy: return VI_ERROR_RSRC_BUSY;
    default: return VI_ERROR_IO;
  }
}

UsbResult TmcSession::class_request(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t* reply,
                                    uint16_t length) {
  int got = 0;
  UsbResult r = handle_->control(kClassInEndpoint, bRequest, wValue, wIndex, reply, length, kControlTimeoutMs, &got);
  if (r == UsbResult::kNoDevice) lost_ = true;
  if (r == UsbResult::kOk && got < 1) r = UsbResult::kIo;
  return r;
}

// --- Write -----------------------------------------------------------------------

ViStatus TmcSession::write(const uint8_t* data, uint32_t count, uint32_t* written) {
  *written = 0;
  if (lost_) return VI_ERROR_CONN_LOST;
  while (*written < count) {
    uint32_t chunk = std::min(count - *written, kMaxTransferSize);
    bool last = *written + chunk == count;
    uint8_t tag = new_tag();
    put_header(buffer_.data(), Header{DEV_DEP_MSG_OUT, tag, chunk, static_cast<uint8_t>(last ? kAttrEom : 0), 0});
    memcpy(buffer_.data() + kHeaderSize, data + *written, chunk);
    size_t total = padded_size(chunk);
    memset(buffer_.data() + kHeaderSize + chunk, 0, total - kHeaderSize - chunk);
    int sent = 0;
    UsbResult r = handle_->bulk_out(interface_.bulk_out, buffer_.data(), static_cast<int>(total), usb_timeout(), &sent);
    if (r != UsbResult::kOk) {
      if (r == UsbResult::kTimeout) abort_bulk_out(tag);
      return status_of(r, interface_.bulk_out);
    }
    *written += chunk;
  }
  return VI_SUCCESS;
}

// --- Read ------------------------------------------------------------------------

UsbResult TmcSession::send_request(uint32_t want, uint8_t tag) {
  uint8_t request[kHeaderSize];
  put_header(request, Header{REQUEST_DEV_DEP_MSG_IN, tag, want, 0, 0});
  int sent = 0;
  return handle_->bulk_out(interface_.bulk_out, request, kHeaderSize, usb_timeout(), &sent);
}

ViStatus TmcSession::read(uint8_t* data, uint32_t count, uint32_t* got) {
  *got = 0;
  if (lost_) return VI_ERROR_CONN_LOST;
  if (count == 0) return VI_SUCCESS_MAX_CNT;
  uint8_t continuation = 0;
  // Each round either brings bytes or ends the read, so count bounds it.
  while (*got < count) {
    uint32_t want = std::min(count - *got, kMaxTransferSize);
    uint8_t tag = new_tag();
    UsbResult r = send_request(want, tag);
    if (r != UsbResult::kOk) {
      if (r == UsbResult::kTimeout) abort_bulk_out(tag);
      return status_of(r, interface_.bulk_out);
    }
    Reply reply;
    r = receive_reply(tag, continuation, want, data + *got, &reply);
    continuation = tag;
    *got += reply.bytes;
    if (r != UsbResult::kOk) {
      if (r == UsbResult::kTimeout) abort_bulk_in(tag);
      if (r == UsbResult::kOverflow) drain_bulk_in();
      return status_of(r, interface_.bulk_in);
    }
    if (reply.eom) return VI_SUCCESS;
    // A device that sends nothing more and no EOM has ended its message.
    if (reply.bytes == 0) return VI_SUCCESS;
  }
  return VI_SUCCESS_MAX_CNT;
}

// Reads the DEV_DEP_MSG_IN that answers the request tag: the header and
// the data over as many transfers as the device sends them in. A reply to an
// earlier request (one that timed out) and stray short transfers (alignment
// or zero-length packets left over) are dropped. continuation, when not 0, is
// the tag of the request before this one in the same read: some devices echo
// it in the reply that continues a message.
UsbResult TmcSession::receive_reply(uint8_t tag, uint8_t continuation, uint32_t want, uint8_t* out,
                                    Reply* reply) {
  size_t fill = 0;
  size_t expected = kHeaderSize + want + kAlignment - 1;
  Header h;
  bool have_header = false;
  int dropped = 0;
  for (int transfers = 0; transfers < kMaxTransfersPerReply; ++transfers) {
    size_t room = (buffer_.size() - fill) / in_packet_ * in_packet_;
    size_t length = std::min(round_up(expected > fill ? expected - fill : 1, in_packet_), room);
    int n = 0;
    UsbResult r = handle_->bulk_in(interface_.bulk_in, buffer_.data() + fill, static_cast<int>(length), usb_timeout(), &n);
    fill += static_cast<size_t>(std::max(n, 0));
    if (r != UsbResult::kOk) {
      if (have_header && fill > kHeaderSize) {
        reply->bytes = static_cast<uint32_t>(std::min<size_t>(fill - kHeaderSize, h.TransferSize));
        memcpy(out, buffer_.data() + kHeaderSize, reply->bytes);
      }
      return r;
    }
    bool short_transfer = static_cast<size_t>(n) < length;
    if (!have_header) {
      if (fill < kHeaderSize) {
        if (!short_transfer) continue;
        if (++dropped > kMaxStaleReplies) return UsbResult::kIo;
        fill = 0;  // a stray short transfer: alignment bytes or a zero-length packet
        continue;
      }
      bool valid = get_header(buffer_.data(), &h) && h.MsgID == DEV_DEP_MSG_IN;
      if (!valid) return UsbResult::kIo;
      if (h.bTag != tag && (continuation == 0 || h.bTag != continuation)) {
        // A stale reply: drop it and what follows of it up to its short packet.
        if (++dropped > kMaxStaleReplies) return UsbResult::kIo;
        if (!short_transfer) drain_bulk_in();
        fill = 0;
        continue;
      }
      have_header = true;
      h.TransferSize = std::min(h.TransferSize, want);
      expected = kHeaderSize + h.TransferSize;
    }
    if (fill >= expected || (short_transfer && n == 0)) {
      reply->bytes = static_cast<uint32_t>(std::min(fill, expected) - kHeaderSize);
      reply->eom = (h.bmTransferAttributes & kAttrEom) != 0;
      memcpy(out, buffer_.data() + kHeaderSize, reply->bytes);
      return UsbResult::kOk;
    }
  }
  return UsbResult::kIo;
}

// After a read time-out the device may still hold the reply, or be about to
// send it: abort the transfer, drain what is queued and wait (bounded) until
// the device says the abort is done, so that the next command starts clean.
// Without the drain some devices stay stuck until power-cycled.
void TmcSession::abort_bulk_in(uint8_t tag) {
  uint8_t status[kCheckAbortInReplySize] = {};
  if (class_request(INITIATE_ABORT_BULK_IN, tag, interface_.bulk_in, status, kAbortReplySize) != UsbResult::kOk) return;
  // FAILED: nothing in progress; TRANSFER_NOT_IN_PROGRESS: another tag is
  // (a stale reply will be dropped by its tag).
  if (status[0] != STATUS_SUCCESS) return;
  drain_bulk_in();
  for (int poll = 0; poll < kMaxAbortPolls && !lost_; ++poll) {
    if (class_request(CHECK_ABORT_BULK_IN_STATUS, 0, interface_.bulk_in, status, kCheckAbortInReplySize) !=
        UsbResult::kOk) {
      return;
    }
    if (status[0] != STATUS_PENDING) return;
    if (status[1] & 0x01) {  // bmAbortBulkIn.D0: packets are queued for the host
      drain_bulk_in();
    } else {
      clock_.wait_ms(kAbortPollIntervalMs);
    }
  }
}

// After a write time-out: abort the bulk-OUT transfer, wait until the device
// has, then clear the endpoint's halt as the abort requires.
void TmcSession::abort_bulk_out(uint8_t tag) {
  uint8_t status[kCheckAbortOutReplySize] = {};
  if (class_request(INITIATE_ABORT_BULK_OUT, tag, interface_.bulk_out, status, kAbortReplySize) != UsbResult::kOk) {
    return;
  }
  if (status[0] != STATUS_SUCCESS) return;
  for (int poll = 0; poll < kMaxAbortPolls && !lost_; ++poll) {
    if (class_request(CHECK_ABORT_BULK_OUT_STATUS, 0, interface_.bulk_out, status, kCheckAbortOutReplySize) !=
        UsbResult::kOk) {
      return;
    }
    if (status[0] != STATUS_PENDING) break;
    clock_.wait_ms(kAbortPollIntervalMs);
  }
  if (!lost_ && handle_->clear_halt(interface_.bulk_out) == UsbResult::kNoDevice) lost_ = true;
}

// Reads and drops what bulk-IN holds, up to a short packet.
void TmcSession::drain_bulk_in() {
  size_t length = buffer_.size() / in_packet_ * in_packet_;
  for (int reads = 0; reads < kMaxDrainReads; ++reads) {
    int n = 0;
    UsbResult r = handle_->bulk_in(interface_.bulk_in, buffer_.data(), static_cast<int>(length), kDrainTimeoutMs, &n);
    if (r == UsbResult::kNoDevice) lost_ = true;
    if (r != UsbResult::kOk || static_cast<size_t>(n) < length) return;
  }
}

// --- Control requests ------------------------------------------------------------

ViStatus TmcSession::control_in(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                                uint16_t wLength, uint8_t* data, uint16_t* got) {
  *got = 0;
  if (lost_) return VI_ERROR_CONN_LOST;
  if (!(bmRequestType & kDirectionIn)) return VI_ERROR_INV_PARAMETER;
  int n = 0;
  UsbResult r = handle_->control(bmRequestType, bRequest, wValue, wIndex, data, wLength, usb_timeout(), &n);
  if (r == UsbResult::kOk) *got = static_cast<uint16_t>(std::clamp(n, 0, static_cast<int>(wLength)));
  return status_of(r, 0);
}

ViStatus TmcSession::control_out(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                                 uint16_t wLength, const uint8_t* data) {
  if (lost_) return VI_ERROR_CONN_LOST;
  if (bmRequestType & kDirectionIn) return VI_ERROR_INV_PARAMETER;
  int n = 0;
  // The transport does not write to an OUT request's data.
  UsbResult r = handle_->control(bmRequestType, bRequest, wValue, wIndex, const_cast<uint8_t*>(data), wLength,
                                 usb_timeout(), &n);
  return status_of(r, 0);
}

}  // namespace usbtmc
