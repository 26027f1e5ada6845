#include "package/package_format.h"

#include <cstring>

uint16_t get_le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

uint32_t get_le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

int32_t get_le32_signed(const uint8_t* p) {
  // Conversion to a signed type is modular since C++20, so this is exact.
  return static_cast<int32_t>(get_le32(p));
}

void put_le16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

void put_le32(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t pt_magic(const PtHeader& pt_header) { return get_le32(pt_header + kMagicOffset); }

uint32_t pt_b_argument(const PtHeader& pt_header) { return get_le32(pt_header + kBArgumentOffset); }

uint8_t pt_run_order_entry(const PtHeader& pt_header, int k) { return pt_header[kRunOrderOffset + k]; }

namespace {

// Copies the text of a field of `width` bytes, stopping at its NUL, into out
// (width + 1 bytes), which always ends with a NUL.
void copy_field(char* out, const uint8_t* field, int width) {
  size_t n = strnlen(reinterpret_cast<const char*>(field), static_cast<size_t>(width));
  memcpy(out, field, n);
  out[n] = '\0';
}

}  // namespace

void pt_device_code(const PtHeader& pt_header, char out[kDeviceCodeSize + 1]) {
  copy_field(out, pt_header + kDeviceCodeOffset, kDeviceCodeSize);
}

SectionRecord pt_record(const PtHeader& pt_header, int r) {
  const uint8_t* rec = pt_header + pt_record_offset(r, 0);
  SectionRecord out{};
  copy_field(out.boot_version, rec + kRecBootVersionOffset, kRecBootVersionSize);
  copy_field(out.kind, rec + kRecKindOffset, kRecKindSize);
  out.flags = rec[kRecFlagsOffset];
  out.binary = static_cast<int8_t>(rec[kRecBinaryOffset]);
  copy_field(out.jump_command, rec + kRecJumpOffset, kRecJumpSize);
  copy_field(out.command_header, rec + kRecHeaderOffset, kRecHeaderSize);
  out.length = get_le32(rec + kRecLengthOffset);
  return out;
}

uint32_t pt_section_length(const PtHeader& pt_header, int r) {
  return get_le32(pt_header + pt_record_offset(r, kRecLengthOffset));
}

SectionKind section_kind(uint8_t flags) {
  if (flags == kCommandSectionFlags) return SectionKind::kCommand;
  return (flags & kBinarySectionBit) != 0 ? SectionKind::kBinary : SectionKind::kFramed;
}

int section_mode(uint8_t flags) { return flags & kModeMask; }

bool pt_data_offsets(const PtHeader& pt_header, int64_t offsets[kSectionCount]) {
  // 1968 + 20 * (2^32 - 1) stays far below 2^63: the 64-bit sums are exact.
  int64_t at = kPtHeaderSize;
  bool fits = true;
  for (int r = 0; r < kSectionCount; ++r) {
    offsets[r] = at;
    if (at > kMaxPackageOffset) fits = false;
    at += pt_section_length(pt_header, r);
  }
  return fits;
}

BinHeader decode_bin_header(const uint8_t bytes[kBinHeaderSize]) {
  return BinHeader{get_le32_signed(bytes + kBinStartOffset), get_le32_signed(bytes + kBinEndOffset),
                   get_le32_signed(bytes + kBinChunkOffset), get_le32_signed(bytes + kBinStepOffset)};
}

bool is_framed_prefix(uint8_t c) { return c == '^' || c == '&' || c == '*' || c == '%'; }
