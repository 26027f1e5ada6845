// The package file: a 1968-byte header (magic, b-command argument, run order,
// device code, 20 section records of 96 bytes), then the data of the sections
// one after another in record order.
//
// Every field is read through the named offsets and the little-endian helpers
// below, never by casting a struct over the bytes: the layout must not depend
// on the host's byte order, padding or alignment.
#pragma once

#include <cstddef>
#include <cstdint>

#include "package/package_state.h"

// Header layout, offsets from the start of the file.
constexpr uint32_t kPtMagic = 0x1B9B47D0;  // stored D0 47 9B 1B
constexpr int kMagicOffset = 0;
constexpr int kBArgumentOffset = 4;     // uint32: argument of "&b#%04X$"
constexpr int kRunOrderOffset = 8;
constexpr int kRunOrderSize = 32;       // record indices; the first 0xFF ends the list
constexpr int kDeviceCodeOffset = 40;
constexpr int kDeviceCodeSize = 8;      // may use all 8 bytes without a NUL
constexpr int kRecordsOffset = 48;
constexpr int kRecordSize = 96;
constexpr int kSectionCount = 20;
static_assert(kRecordsOffset + kSectionCount * kRecordSize == kPtHeaderSize);

constexpr uint8_t kRunOrderEnd = 0xFF;

// Section record layout, offsets from the start of the record.
constexpr int kRecBootVersionOffset = 0;
constexpr int kRecBootVersionSize = 32;
constexpr int kRecKindOffset = 32;       // "mcmd"/"scmd", or the accepted hardware versions
constexpr int kRecKindSize = 8;
constexpr int kRecFlagsOffset = 40;
constexpr int kRecBinaryOffset = 41;     // int8
constexpr int kRecJumpOffset = 42;
constexpr int kRecJumpSize = 25;
constexpr int kRecHeaderOffset = 67;
constexpr int kRecHeaderSize = 25;
constexpr int kRecLengthOffset = 92;     // uint32
static_assert(kRecLengthOffset + 4 == kRecordSize);

// Section flags.
constexpr uint8_t kCommandSectionFlags = 0xFF;
constexpr uint8_t kBinarySectionBit = 0x80;
constexpr uint8_t kModeMask = 0x7F;

// The kinds of a command section, told apart by their first 4 characters:
// written to the instrument, or run in the shell.
constexpr char kMachineSectionKind[] = "mcmd";
constexpr char kSystemSectionKind[] = "scmd";
constexpr size_t kSectionKindLength = 4;

// Command section: the reader's buffer is 2000 bytes and keeps a NUL.
constexpr uint32_t kMaxCommandText = 1999;

// Binary section: a 16-byte sub-header of four int32, then the image.
constexpr int kBinHeaderSize = 16;
constexpr int kBinStartOffset = 0;
constexpr int kBinEndOffset = 4;
constexpr int kBinChunkOffset = 8;
constexpr int kBinStepOffset = 12;

// The command lines a binary section streams, in this order (update_bin);
// the check of a package frames the same lines before anything is sent.
constexpr char kEnterCommand[] = "&t$";        // the bootloader handshake
constexpr char kBCommandFormat[] = "&b#%04X$";  // the package's b-command argument
constexpr char kVCommand[] = "&v#00$";
constexpr char kLCommandFormat[] = "&l#%02X$";  // the chunk size
constexpr char kECommandFormat[] = "&e@%08X$";  // one erase address
constexpr char kWCommandFormat[] = "&w@%08X$";  // the start address
constexpr char kDataCommandHead[] = "&d#";      // then a chunk of image and '$', as a raw command
constexpr char kXCommand[] = "&x$";

// Framed section: records of a uint16 length L and L bytes of raw command.
constexpr int kFramedLengthSize = 2;
constexpr int kMinFramedRecord = 2;
constexpr int kMaxFramedRecord = 256;
constexpr char kQuitLetter = 'q';

// Little-endian helpers, independent of the host's byte order.
uint16_t get_le16(const uint8_t* p);
uint32_t get_le32(const uint8_t* p);
int32_t get_le32_signed(const uint8_t* p);
void put_le16(uint8_t* p, uint16_t value);
void put_le32(uint8_t* p, uint32_t value);

using PtHeader = uint8_t[kPtHeaderSize];

uint32_t pt_magic(const PtHeader& pt_header);
uint32_t pt_b_argument(const PtHeader& pt_header);
// Run order entry k, 0 .. 31.
uint8_t pt_run_order_entry(const PtHeader& pt_header, int k);
// The 8 bytes of the device code, NUL-terminated in out (9 bytes); a code
// shorter than 8 characters ends at its first NUL.
void pt_device_code(const PtHeader& pt_header, char out[kDeviceCodeSize + 1]);
// Header offset of field `offset` of record r (0 .. 19).
constexpr int pt_record_offset(int r, int offset) { return kRecordsOffset + kRecordSize * r + offset; }

// A decoded section record. Each text is cut at its first NUL inside its
// width and always NUL-terminated here, so a record without its NUL still
// gives a bounded text (validate_package refuses such a record where it runs).
struct SectionRecord {
  char boot_version[kRecBootVersionSize + 1];
  char kind[kRecKindSize + 1];  // "mcmd"/"scmd" for a command section, else hardware versions
  uint8_t flags;
  int8_t binary;
  char jump_command[kRecJumpSize + 1];
  char command_header[kRecHeaderSize + 1];
  uint32_t length;
};

// Record r, 0 .. 19.
SectionRecord pt_record(const PtHeader& pt_header, int r);
uint32_t pt_section_length(const PtHeader& pt_header, int r);

enum class SectionKind { kCommand, kBinary, kFramed };

SectionKind section_kind(uint8_t flags);
// The bootloader-entry mode of a firmware section: flags & 0x7F.
int section_mode(uint8_t flags);

// The largest data offset the format allows: offsets are signed 32-bit.
constexpr int64_t kMaxPackageOffset = INT32_MAX;

// Fills offsets with D(r): D(0) = 1968, D(r) = D(r - 1) + length(r - 1),
// over all 20 records whether the run order names them or not. The sums are
// taken in 64 bits, so a value beyond the signed 32-bit range shows as such
// instead of wrapping. Returns true when every D(r) is at most
// kMaxPackageOffset, false when at least one is beyond it.
bool pt_data_offsets(const PtHeader& pt_header, int64_t offsets[kSectionCount]);

// The binary sub-header at the start of a binary section's data.
struct BinHeader {
  int32_t start_address;
  int32_t end_address;
  int32_t chunk_size;
  int32_t erase_step;
};

BinHeader decode_bin_header(const uint8_t bytes[kBinHeaderSize]);

// One of '^', '&', '*', '%': the prefix characters a framed record may start with.
bool is_framed_prefix(uint8_t c);
