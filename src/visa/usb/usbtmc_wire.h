// USBTMC on the wire: the 12-byte header of every bulk transfer, the class
// control requests and their status bytes, written from the USBTMC 1.0 and
// USB488 class specifications. Both sides use it: the host (the built-in
// driver) and the device (the in-process USB device of the tests and the
// FunctionFS gadget), so that the two can only disagree where a test makes
// them.
//
// Header layout, little-endian:
//   0      MsgID
//   1      bTag (1..255, never 0)
//   2      bTagInverse (~bTag)
//   3      reserved 0
//   4..7   TransferSize
//   8      bmTransferAttributes (bit 0 EOM; in a request bit 1 TermCharEnabled)
//   9      TermChar (request only)
//   10, 11 reserved 0
#pragma once

#include <cstddef>
#include <cstdint>

namespace usbtmc {

// Interface class, subclass and protocols.
constexpr uint8_t kInterfaceClass = 0xFE;
constexpr uint8_t kInterfaceSubClass = 0x03;
constexpr uint8_t kProtocolUsbtmc = 0;
constexpr uint8_t kProtocolUsb488 = 1;

// MsgID values.
constexpr uint8_t DEV_DEP_MSG_OUT = 1;
constexpr uint8_t REQUEST_DEV_DEP_MSG_IN = 2;
constexpr uint8_t DEV_DEP_MSG_IN = 2;
constexpr uint8_t VENDOR_SPECIFIC_OUT = 126;
constexpr uint8_t REQUEST_VENDOR_SPECIFIC_IN = 127;
constexpr uint8_t TRIGGER = 128;

constexpr size_t kHeaderSize = 12;
constexpr size_t kHeaderTransferSize = 4;  // offset of TransferSize
constexpr size_t kHeaderAttributes = 8;
constexpr size_t kHeaderTermChar = 9;
constexpr uint8_t kAttrEom = 0x01;
constexpr uint8_t kAttrTermCharEnabled = 0x02;

// Every bulk-OUT transfer is padded with zero bytes to a multiple of this.
constexpr size_t kAlignment = 4;

// Class control requests (bRequest).
constexpr uint8_t INITIATE_ABORT_BULK_OUT = 1;
constexpr uint8_t CHECK_ABORT_BULK_OUT_STATUS = 2;
constexpr uint8_t INITIATE_ABORT_BULK_IN = 3;
constexpr uint8_t CHECK_ABORT_BULK_IN_STATUS = 4;
constexpr uint8_t INITIATE_CLEAR = 5;
constexpr uint8_t CHECK_CLEAR_STATUS = 6;
constexpr uint8_t GET_CAPABILITIES = 7;
constexpr uint8_t INDICATOR_PULSE = 64;
constexpr uint8_t READ_STATUS_BYTE = 128;  // USB488
constexpr uint8_t REN_CONTROL = 160;       // USB488

// bmRequestType of the class requests: device to host, class, to the
// endpoint (the abort requests) or to the interface (the others).
constexpr uint8_t kClassInEndpoint = 0xA2;
constexpr uint8_t kClassInInterface = 0xA1;

// wLength of the replies to the class requests.
constexpr uint16_t kAbortReplySize = 2;        // INITIATE_ABORT_*: USBTMC_status, bTag
constexpr uint16_t kCheckAbortInReplySize = 8; // status, bmAbortBulkIn, 0, 0, NBYTES_RXD
constexpr uint16_t kCheckAbortOutReplySize = 8;
constexpr uint16_t kClearReplySize = 1;
constexpr uint16_t kCheckClearReplySize = 2;
constexpr uint16_t kCapabilitiesSize = 24;

// USBTMC_status values.
constexpr uint8_t STATUS_SUCCESS = 0x01;
constexpr uint8_t STATUS_PENDING = 0x02;
constexpr uint8_t STATUS_FAILED = 0x80;
constexpr uint8_t STATUS_TRANSFER_NOT_IN_PROGRESS = 0x81;
constexpr uint8_t STATUS_SPLIT_NOT_IN_PROGRESS = 0x82;
constexpr uint8_t STATUS_SPLIT_IN_PROGRESS = 0x83;

// The vendor requests of our instruments (device or interface recipient).
constexpr uint8_t kVendorOutDevice = 0x40;
constexpr uint8_t kVendorOutInterface = 0x41;
constexpr uint8_t kVendorInDevice = 0xC0;
constexpr uint8_t kVendorInInterface = 0xC1;
constexpr uint8_t kRequestTypeTypeMask = 0x60;
constexpr uint8_t kRequestTypeClass = 0x20;
constexpr uint8_t kRequestTypeVendor = 0x40;
constexpr uint8_t kDirectionIn = 0x80;

// One decoded header.
struct Header {
  uint8_t MsgID = 0;
  uint8_t bTag = 0;
  uint32_t TransferSize = 0;
  uint8_t bmTransferAttributes = 0;
  uint8_t TermChar = 0;
};

// The bTag after tag: 1..255, wrapping 255 -> 1, never 0.
uint8_t next_tag(uint8_t tag);

// Writes a header into out[0..11].
void put_header(uint8_t* out, const Header& h);

// Decodes out of in[0..11]. Returns false when bTagInverse is not ~bTag (the
// bytes are not a header).
bool get_header(const uint8_t* in, Header* h);

// Bytes of a transfer that carries len message bytes behind its header,
// padded to the alignment.
size_t padded_size(size_t len);

uint32_t get_le32(const uint8_t* in);
void put_le32(uint8_t* out, uint32_t v);

}  // namespace usbtmc
