// One open USBTMC interface: the bulk messages and class requests of the
// USBTMC protocol over the transport seam, with the VISA status of each
// operation. The VISA layer (usbtmc_visa.h) keeps one per instrument session.
//
// Time-outs: every bulk transfer and control request of an operation waits at
// most the session's time-out (VI_ATTR_TMO_VALUE; VI_TMO_INFINITE waits
// without end); the clean-up after a time-out uses its own short waits below.
// Every loop is bounded. Once the transport says the device is gone, every
// operation answers VI_ERROR_CONN_LOST without touching the device again.
//
// Nothing is allocated after open(): the transfers go through one buffer of
// the session.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "platform/clock.h"
#include "visa/usb/usb_transport.h"
#include "visa/usb/usbtmc_wire.h"
#include "visa/visa_types.h"

namespace usbtmc {

// Most message bytes in one bulk transfer, each way. Longer writes go out as
// several transfers (EOM on the last one only); longer reads as several
// requests.
constexpr uint32_t kMaxTransferSize = 16384;
// Waits of the clean-up after a time-out, in milliseconds.
constexpr uint32_t kControlTimeoutMs = 5000;   // a class control request
constexpr uint32_t kDrainTimeoutMs = 300;      // one read of what is left on bulk-IN
constexpr uint32_t kAbortPollIntervalMs = 50;  // between CHECK_ABORT_*_STATUS requests
// Bounds of the loops.
constexpr int kMaxAbortPolls = 100;        // CHECK_ABORT_*_STATUS requests after one abort
constexpr int kMaxDrainReads = 64;         // full transfers drained before giving up
constexpr int kMaxStaleReplies = 16;       // stale or stray transfers dropped in one read
constexpr int kMaxTransfersPerReply = 1024;  // bulk-IN transfers that make up one reply
constexpr uint32_t kDefaultTimeoutMs = 2000;

// The GET_CAPABILITIES reply, as far as it matters here.
struct Capabilities {
  bool valid = false;
  uint16_t bcdUSBTMC = 0;
  uint8_t USBTMC_interface_capabilities = 0;
  uint8_t USBTMC_device_capabilities = 0;
};

class TmcSession {
 public:
  // clock: waits between abort polls. The handle belongs to the session.
  TmcSession(std::unique_ptr<UsbHandle> handle, const TmcInterface& interface, Clock& clock);
  ~TmcSession();
  TmcSession(const TmcSession&) = delete;
  TmcSession& operator=(const TmcSession&) = delete;

  // Detaches the kernel's driver when one is bound, claims the interface and
  // asks GET_CAPABILITIES (a device that refuses it is still used). On
  // failure returns the transport's result (kBusy, kAccess, kNoDevice ...)
  // with everything undone.
  UsbResult open();
  // Releases the interface and gives it back to the kernel's driver if
  // open() took it away. Safe on a device that is gone.
  void close();

  void set_timeout_ms(uint32_t ms) { timeout_ms_ = ms; }
  uint32_t timeout_ms() const { return timeout_ms_; }
  const Capabilities& capabilities() const { return capabilities_; }
  bool detached_kernel_driver() const { return detached_; }
  bool lost() const { return lost_; }
  // The bTag of the last header sent (0 before the first).
  uint8_t last_tag() const { return tag_; }

  // viWrite: the count bytes as one message. *written: bytes that went out.
  ViStatus write(const uint8_t* data, uint32_t count, uint32_t* written);
  // viRead: VI_SUCCESS when the message ended (EOM), VI_SUCCESS_MAX_CNT when
  // count bytes came first, VI_ERROR_TMO with *got the bytes that came.
  ViStatus read(uint8_t* data, uint32_t count, uint32_t* got);
  // viUsbControlIn / viUsbControlOut with the caller's fields.
  ViStatus control_in(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                      uint16_t wLength, uint8_t* data, uint16_t* got);
  ViStatus control_out(uint8_t bmRequestType, uint8_t bRequest, uint16_t wValue, uint16_t wIndex,
                       uint16_t wLength, const uint8_t* data);

 private:
  struct Reply {
    uint32_t bytes = 0;  // message bytes copied out
    bool eom = false;
  };

  uint8_t new_tag();
  uint32_t usb_timeout() const;
  ViStatus status_of(UsbResult r, uint8_t endpoint);
  UsbResult send_request(uint32_t want, uint8_t tag);
  UsbResult receive_reply(uint8_t tag, uint8_t continuation, uint32_t want, uint8_t* out, Reply* reply);
  void get_capabilities();
  void abort_bulk_in(uint8_t tag);
  void abort_bulk_out(uint8_t tag);
  void drain_bulk_in();
  UsbResult class_request(uint8_t bRequest, uint16_t wValue, uint16_t wIndex, uint8_t* reply,
                          uint16_t length);

  std::unique_ptr<UsbHandle> handle_;
  TmcInterface interface_;
  Clock& clock_;
  uint16_t in_packet_;  // bulk-IN wMaxPacketSize, as used for buffer sizes
  uint32_t timeout_ms_ = kDefaultTimeoutMs;
  uint8_t tag_ = 0;
  bool claimed_ = false;
  bool detached_ = false;
  bool lost_ = false;
  Capabilities capabilities_;
  // One transfer: the header, kMaxTransferSize bytes, the alignment, and
  // room to round a read up to whole packets.
  std::array<uint8_t, kHeaderSize + kMaxTransferSize + 2 * 1024> buffer_{};
};

}  // namespace usbtmc
