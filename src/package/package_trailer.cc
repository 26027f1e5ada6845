#include "package/package_trailer.h"

#include <cstring>

#include "package/package_format.h"

namespace {

constexpr uint32_t kCrcPolynomial = 0xEDB88320;  // IEEE 802.3, reflected
constexpr size_t kCrcPiece = 4096;               // bytes read from the file at a time

struct CrcTable {
  uint32_t entry[256];
  constexpr CrcTable() : entry() {
    for (uint32_t n = 0; n < 256; ++n) {
      uint32_t c = n;
      for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? kCrcPolynomial ^ (c >> 1) : c >> 1;
      entry[n] = c;
    }
  }
};

constexpr CrcTable kCrcTable;

// The CRC of source's bytes [0, length), read in pieces; false when a read fails.
bool crc_of(PackageSource& source, int64_t length, uint32_t* crc) {
  uint8_t piece[kCrcPiece];
  uint32_t c = 0;
  for (int64_t at = 0; at < length;) {
    size_t n = length - at < static_cast<int64_t>(sizeof piece) ? static_cast<size_t>(length - at) : sizeof piece;
    if (!source.read(at, piece, n)) return false;
    c = crc32_update(c, piece, n);
    at += static_cast<int64_t>(n);
  }
  *crc = c;
  return true;
}

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t n) {
  uint32_t c = crc ^ 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) c = kCrcTable.entry[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

bool decode_package_trailer(const uint8_t* bytes, PackageTrailer* out) {
  if (memcmp(bytes + kTrailerMarkerOffset, kTrailerMarker, sizeof kTrailerMarker) != 0) return false;
  out->covered_length = get_le32(bytes + kTrailerLengthOffset);
  out->crc = get_le32(bytes + kTrailerCrcOffset);
  return true;
}

void encode_package_trailer(uint32_t covered_length, uint32_t crc, uint8_t* out) {
  memcpy(out + kTrailerMarkerOffset, kTrailerMarker, sizeof kTrailerMarker);
  put_le32(out + kTrailerLengthOffset, covered_length);
  put_le32(out + kTrailerCrcOffset, crc);
}

void append_package_trailer(std::vector<uint8_t>* package) {
  uint8_t trailer[kTrailerSize];
  encode_package_trailer(static_cast<uint32_t>(package->size()), crc32_update(0, package->data(), package->size()),
                         trailer);
  package->insert(package->end(), trailer, trailer + kTrailerSize);
}

TrailerCheck check_package_trailer(PackageSource& source) {
  TrailerCheck check;
  check.file_size = check.data_size = source.size();
  if (check.file_size < 0) {
    check.state = TrailerState::kReadError;
    return check;
  }
  if (check.file_size < kTrailerSize) return check;
  uint8_t bytes[kTrailerSize];
  const int64_t covered = check.file_size - kTrailerSize;
  if (!source.read(covered, bytes, sizeof bytes)) {
    check.state = TrailerState::kReadError;
    return check;
  }
  if (!decode_package_trailer(bytes, &check.trailer)) return check;
  check.data_size = covered;
  if (check.trailer.covered_length != covered) {
    check.state = TrailerState::kBadLength;
    return check;
  }
  if (!crc_of(source, covered, &check.computed_crc)) {
    check.state = TrailerState::kReadError;
    return check;
  }
  check.state = check.computed_crc == check.trailer.crc ? TrailerState::kValid : TrailerState::kBadCrc;
  return check;
}

TrailerCheck check_package_trailer(const uint8_t* bytes, size_t size) {
  MemoryPackageSource source(bytes, size);
  return check_package_trailer(source);
}

TrailerCheck check_package_trailer(FILE* file) {
  long position = std::ftell(file);
  FilePackageSource source(file);
  TrailerCheck check = check_package_trailer(source);
  // fseek also clears the end-of-file flag a read may have set.
  if (position < 0 || std::fseek(file, position, SEEK_SET) != 0) check.state = TrailerState::kReadError;
  return check;
}

const char* trailer_state_text(TrailerState state) {
  switch (state) {
    case TrailerState::kAbsent: return "absent";
    case TrailerState::kValid: return "valid";
    case TrailerState::kBadLength: return "wrong length";
    case TrailerState::kBadCrc: return "wrong CRC";
    case TrailerState::kReadError: return "unreadable";
  }
  return "unknown";
}
