#include "visa/usb/device/tmc_function.h"

#include <algorithm>
#include <cstring>

namespace usbtmc {

namespace {

constexpr uint32_t kLargestReply = 65536;  // bytes of output taken for one reply
constexpr int kMaxClearReads = 64;         // output thrown away by INITIATE_CLEAR, in reads
constexpr uint16_t kBcdUsbtmc = 0x0100;

uint16_t answer(uint8_t* data, const SetupPacket& setup, std::initializer_list<uint8_t> bytes) {
  uint16_t n = static_cast<uint16_t>(std::min<size_t>(setup.wLength, bytes.size()));
  std::copy_n(bytes.begin(), n, data);
  return n;
}

}  // namespace

TmcFunction::TmcFunction(sim::Simulator& sim, size_t instrument, FunctionFaults faults)
    : sim_(sim), instrument_(instrument), faults_(faults) {
  sim_.viOpenDefaultRM(&rm_);
  refresh();
}

TmcFunction::~TmcFunction() {
  close_instrument_session();
  sim_.viClose(rm_);
}

// --- Presence --------------------------------------------------------------

bool TmcFunction::refresh() {
  sim::InstrumentState state = sim_.state(instrument_);
  if (static_cast<int>(state) == state_) return false;
  state_ = static_cast<int>(state);
  close_instrument_session();
  reset_protocol();
  present_ = state != sim::InstrumentState::kRebooting;
  if (present_) open_instrument_session();
  return true;
}

void TmcFunction::open_instrument_session() {
  const sim::InstrumentConfig& config = sim_.config(instrument_);
  const std::string& rsrc = state_ == static_cast<int>(sim::InstrumentState::kMain) ? config.main_rsrc
                                                                                      : config.bootloader_rsrc();
  parse_usb_resource(rsrc, &identity_);
  if (sim_.viOpen(rm_, rsrc.c_str(), VI_NULL, 0, &vi_) != VI_SUCCESS) vi_ = 0;
  // Output is taken only when it is there: the device never waits on it.
  if (vi_ != 0) sim_.viSetAttribute(vi_, VI_ATTR_TMO_VALUE, 0);
}

void TmcFunction::close_instrument_session() {
  if (vi_ != 0) sim_.viClose(vi_);
  vi_ = 0;
}

void TmcFunction::reset_protocol() {
  transfer_.clear();
  message_.clear();
  waiting_ = false;
  replies_.clear();
}

// --- Bulk-OUT ----------------------------------------------------------------

size_t TmcFunction::bulk_out_wanted() const {
  Header h;
  if (transfer_.size() < kHeaderSize || !get_header(transfer_.data(), &h)) return kHeaderSize - std::min(transfer_.size(), kHeaderSize);
  size_t whole = h.MsgID == DEV_DEP_MSG_OUT || h.MsgID == VENDOR_SPECIFIC_OUT ? padded_size(h.TransferSize) : kHeaderSize;
  return whole > transfer_.size() ? whole - transfer_.size() : 0;
}

void TmcFunction::bulk_out(const uint8_t* data, size_t length, bool transfer_ended) {
  transfer_.insert(transfer_.end(), data, data + length);
  while (take_transfer()) {
  }
  if (!transfer_ended || transfer_.empty()) return;
  // The host ended its transfer short of what the header said.
  Header h;
  if (transfer_.size() >= kHeaderSize && get_header(transfer_.data(), &h)) {
    receive_transfer(h, transfer_.data() + kHeaderSize, transfer_.size() - kHeaderSize);
  }
  transfer_.clear();
}

// Handles the first transfer of transfer_ if it is complete; false when
// more bytes are needed.
bool TmcFunction::take_transfer() {
  if (transfer_.size() < kHeaderSize) return false;
  Header h;
  if (!get_header(transfer_.data(), &h)) {
    transfer_.clear();  // not a header: nothing after it can be trusted either
    return false;
  }
  size_t wanted = bulk_out_wanted();
  if (wanted > 0) return false;
  size_t whole = h.MsgID == DEV_DEP_MSG_OUT || h.MsgID == VENDOR_SPECIFIC_OUT ? padded_size(h.TransferSize) : kHeaderSize;
  receive_transfer(h, transfer_.data() + kHeaderSize, whole - kHeaderSize);
  transfer_.erase(transfer_.begin(), transfer_.begin() + static_cast<std::ptrdiff_t>(whole));
  return true;
}

void TmcFunction::receive_transfer(const Header& h, const uint8_t* data, size_t length) {
  if (h.MsgID == DEV_DEP_MSG_OUT) {
    last_out_tag_ = h.bTag;
    message_.append(reinterpret_cast<const char*>(data), std::min<size_t>(length, h.TransferSize));
    if (h.bmTransferAttributes & kAttrEom) deliver_message();
  } else if (h.MsgID == REQUEST_DEV_DEP_MSG_IN) {
    waiting_ = true;
    waiting_tag_ = h.bTag;
    waiting_size_ = h.TransferSize;
    answer_waiting_request();
  }
  // Vendor-specific messages and TRIGGER mean nothing to this instrument.
}

void TmcFunction::deliver_message() {
  if (vi_ != 0) {
    ViUInt32 written = 0;
    sim_.viWrite(vi_, reinterpret_cast<const unsigned char*>(message_.data()), static_cast<ViUInt32>(message_.size()),
                 &written);
  }
  message_.clear();
  if (waiting_) answer_waiting_request();
}

void TmcFunction::answer_waiting_request() {
  if (vi_ == 0 || !waiting_) return;
  if (faults_.stop_answering_after != 0 && replies_made_ >= faults_.stop_answering_after) return;
  uint32_t want = std::min(waiting_size_, kLargestReply);
  if (faults_.reply_cap != 0) want = std::min(want, faults_.reply_cap);
  std::vector<uint8_t> reply(padded_size(want), 0);
  ViUInt32 got = 0;
  ViStatus status = sim_.viRead(vi_, reply.data() + kHeaderSize, want, &got);
  if (status != VI_SUCCESS && status != VI_SUCCESS_MAX_CNT) return;  // no output yet: the request waits
  uint8_t attributes = status == VI_SUCCESS ? kAttrEom : 0;
  put_header(reply.data(), Header{DEV_DEP_MSG_IN, waiting_tag_, got, attributes, 0});
  reply.resize(padded_size(got));
  replies_.push_back(std::move(reply));
  waiting_ = false;
  ++replies_made_;
}

// --- Bulk-IN -------------------------------------------------------------------

bool TmcFunction::take_bulk_in(std::vector<uint8_t>* transfer) {
  if (replies_.empty()) return false;
  *transfer = std::move(replies_.front());
  replies_.pop_front();
  return true;
}

// --- Control requests ----------------------------------------------------------

ControlAnswer TmcFunction::control(const SetupPacket& setup, uint8_t* data) {
  uint8_t type = setup.bmRequestType & kRequestTypeTypeMask;
  if (type == kRequestTypeClass) return class_request(setup, data);
  if (type == kRequestTypeVendor) return vendor_request(setup, data);
  return ControlAnswer{true, 0};
}

ControlAnswer TmcFunction::class_request(const SetupPacket& setup, uint8_t* data) {
  if (!(setup.bmRequestType & kDirectionIn)) return ControlAnswer{true, 0};
  uint8_t tag = static_cast<uint8_t>(setup.wValue);
  switch (setup.bRequest) {
    case INITIATE_ABORT_BULK_IN: {
      uint8_t status = STATUS_FAILED;
      auto queued = std::find_if(replies_.begin(), replies_.end(), [&](const auto& r) { return r[1] == tag; });
      if (waiting_ && waiting_tag_ == tag) {
        waiting_ = false;
        status = STATUS_SUCCESS;
      } else if (queued != replies_.end()) {
        replies_.erase(queued);
        status = STATUS_SUCCESS;
      } else if (waiting_ || !replies_.empty()) {
        status = STATUS_TRANSFER_NOT_IN_PROGRESS;
      }
      return ControlAnswer{false, answer(data, setup, {status, tag})};
    }
    case INITIATE_ABORT_BULK_OUT: {
      uint8_t status = transfer_.empty() && message_.empty() ? STATUS_FAILED : STATUS_SUCCESS;
      transfer_.clear();
      message_.clear();
      return ControlAnswer{false, answer(data, setup, {status, last_out_tag_})};
    }
    case CHECK_ABORT_BULK_IN_STATUS:
    case CHECK_ABORT_BULK_OUT_STATUS:
      return ControlAnswer{false, answer(data, setup, {STATUS_SUCCESS, 0, 0, 0, 0, 0, 0, 0})};
    case INITIATE_CLEAR: {
      reset_protocol();
      uint8_t dropped[256];
      ViUInt32 got = 0;
      for (int i = 0; i < kMaxClearReads && vi_ != 0; ++i) {
        if (sim_.viRead(vi_, dropped, sizeof dropped, &got) != VI_SUCCESS_MAX_CNT) break;
      }
      return ControlAnswer{false, answer(data, setup, {STATUS_SUCCESS})};
    }
    case CHECK_CLEAR_STATUS:
      return ControlAnswer{false, answer(data, setup, {STATUS_SUCCESS, 0})};
    case GET_CAPABILITIES:
      return ControlAnswer{false, answer(data, setup,
                                         {STATUS_SUCCESS, 0, static_cast<uint8_t>(kBcdUsbtmc),
                                          static_cast<uint8_t>(kBcdUsbtmc >> 8), 0, 0, 0, 0, 0, 0, 0, 0,
                                          0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})};
    case INDICATOR_PULSE:
      return ControlAnswer{false, answer(data, setup, {STATUS_SUCCESS})};
    default:
      return ControlAnswer{true, 0};
  }
}

ControlAnswer TmcFunction::vendor_request(const SetupPacket& setup, uint8_t* data) {
  if (vi_ == 0) return ControlAnswer{true, 0};
  auto type = static_cast<ViInt16>(setup.bmRequestType);
  auto request = static_cast<ViInt16>(setup.bRequest);
  if (setup.bmRequestType & kDirectionIn) {
    ViUInt16 got = 0;
    ViStatus s = sim_.viUsbControlIn(vi_, type, request, setup.wValue, setup.wIndex, setup.wLength, data, &got);
    return s == VI_SUCCESS ? ControlAnswer{false, got} : ControlAnswer{true, 0};
  }
  ViStatus s = sim_.viUsbControlOut(vi_, type, request, setup.wValue, setup.wIndex, setup.wLength, data);
  return ControlAnswer{s != VI_SUCCESS, 0};
}

}  // namespace usbtmc
