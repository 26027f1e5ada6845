// The package's integrity trailer: 16 bytes after the package's last byte
// that let the updater refuse a package damaged on its way to the station
// (a truncated copy, a flipped bit) before anything of it reaches the
// instrument. tmpack writes it; the updater, --check and the tools that read
// packages verify it when it is there. A package without it runs as before.
//
// Layout, the last 16 bytes of the file:
//
//   offset  size  content
//   0       8     marker "TMPKCRC1" (ASCII, no NUL)
//   8       4     covered length, uint32 little-endian: the file size - 16
//   12      4     CRC-32 of the covered bytes (bytes 0 .. covered length - 1),
//                 uint32 little-endian
//
// CRC-32 is the IEEE 802.3 / zlib one: polynomial 0xEDB88320 (reflected),
// initial value and final XOR 0xFFFFFFFF; the CRC of "123456789" is
// 0xCBF43926. It guards against accidental damage and truncation, not
// against someone who means harm: there is no key.
//
// The header's section offsets never reach the trailer: every section lies
// inside the covered bytes, and the package check judges them against the
// covered length, not the file size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "package/package_source.h"

constexpr char kTrailerMarker[8] = {'T', 'M', 'P', 'K', 'C', 'R', 'C', '1'};
constexpr int kTrailerSize = 16;
constexpr int kTrailerMarkerOffset = 0;
constexpr int kTrailerLengthOffset = 8;
constexpr int kTrailerCrcOffset = 12;

struct PackageTrailer {
  uint32_t covered_length = 0;  // as stored
  uint32_t crc = 0;             // as stored
};

enum class TrailerState {
  kAbsent,     // the last 16 bytes do not begin with the marker (or the file is shorter)
  kValid,      // marker, length and CRC all hold
  kBadLength,  // the marker is there, but the stored length is not the file size - 16
  kBadCrc,     // the marker and length are there, but the CRC of the covered bytes differs
  kReadError,  // the file could not be read
};

struct TrailerCheck {
  TrailerState state = TrailerState::kAbsent;
  PackageTrailer trailer;  // as stored; meaningful unless kAbsent or kReadError
  int64_t file_size = -1;
  // The bytes the package's data may use: file_size - 16 when the marker is
  // there, file_size otherwise.
  int64_t data_size = -1;
  uint32_t computed_crc = 0;  // kValid, kBadCrc: the CRC of the covered bytes
};

// The CRC-32 of data[0 .. n) continued from crc (0 to start): feed a long
// file in pieces, each time with the last result.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t n);

// The 16 bytes at the end of a file: true with *out when they begin with
// the marker, false otherwise.
bool decode_package_trailer(const uint8_t* bytes, PackageTrailer* out);

// Writes the 16 trailer bytes for covered_length bytes of package whose
// CRC-32 is crc into out.
void encode_package_trailer(uint32_t covered_length, uint32_t crc, uint8_t* out);

// Appends the trailer over the whole of package, as tmpack writes it.
void append_package_trailer(std::vector<uint8_t>* package);

// Looks for the trailer and verifies it, reading the file through source
// in pieces. Never reads beyond the file.
TrailerCheck check_package_trailer(PackageSource& source);

// The same over bytes in memory.
TrailerCheck check_package_trailer(const uint8_t* bytes, size_t size);

// The same over an open file; its position is put back where it was.
TrailerCheck check_package_trailer(FILE* file);

// A short English name of the state, for tools and notes: "absent",
// "valid", "wrong length", "wrong CRC", "unreadable".
const char* trailer_state_text(TrailerState state);
