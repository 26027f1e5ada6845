#include "visa/usb/usbtmc_wire.h"

namespace usbtmc {

uint8_t next_tag(uint8_t tag) { return tag == 255 ? 1 : static_cast<uint8_t>(tag + 1); }

uint32_t get_le32(const uint8_t* in) {
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
         static_cast<uint32_t>(in[3]) << 24;
}

void put_le32(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v);
  out[1] = static_cast<uint8_t>(v >> 8);
  out[2] = static_cast<uint8_t>(v >> 16);
  out[3] = static_cast<uint8_t>(v >> 24);
}

void put_header(uint8_t* out, const Header& h) {
  out[0] = h.MsgID;
  out[1] = h.bTag;
  out[2] = static_cast<uint8_t>(~h.bTag);
  out[3] = 0;
  put_le32(out + kHeaderTransferSize, h.TransferSize);
  out[kHeaderAttributes] = h.bmTransferAttributes;
  out[kHeaderTermChar] = h.TermChar;
  out[10] = 0;
  out[11] = 0;
}

bool get_header(const uint8_t* in, Header* h) {
  h->MsgID = in[0];
  h->bTag = in[1];
  h->TransferSize = get_le32(in + kHeaderTransferSize);
  h->bmTransferAttributes = in[kHeaderAttributes];
  h->TermChar = in[kHeaderTermChar];
  return in[2] == static_cast<uint8_t>(~in[1]);
}

size_t padded_size(size_t len) {
  size_t total = kHeaderSize + len;
  return (total + kAlignment - 1) / kAlignment * kAlignment;
}

}  // namespace usbtmc
