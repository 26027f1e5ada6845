// The check of a package before anything of it reaches the instrument.
//
// The runner reads the header and then streams sections one at a time, so a
// package that is cut short or whose numbers lead into an endless loop would
// otherwise be found only after earlier sections had already changed the
// instrument. validate_package looks at every section the run order names up
// front and says what is wrong and where; the runner maps that to its
// numbered message.
//
// Faults that the streamers and the runner report themselves with their own
// messages are deliberately left to them, so that those messages stay what
// the operator sees: a command section of another kind (10-6), a framed
// record length outside 2 .. 256 (10-2) or prefix (10-3), a chunk size or
// b-command argument whose command the framing refuses (10-5), a mode
// outside 0 .. 3 at a "t" command.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "package/package_format.h"

enum class PtFault {
  kNone = 0,
  kShortHeader,     // the file is shorter than the 1968-byte header
  kBadMagic,        // the first four bytes are not D0 47 9B 1B
  kBadRunOrder,     // a run-order entry 20 .. 254 names no record
  kTextNoNul,       // a text field the section uses has no NUL inside its width
  kOffsetOverflow,  // the section's data does not end below 2^31
  kCommandTooLong,  // a command section over 1999 bytes
  kBinaryTooShort,  // a binary section shorter than its 16-byte sub-header
  kPastEnd,         // the section's data runs past the end of the file
  kChunkEndless,    // chunk size below 1 while image bytes are left: the image never ends
  kChunkOverflow,   // the "l" command passes but a data command would not fit 2000 bytes
  kEraseEndless,    // the erase addresses never pass the end address
  kNoQuitRecord,    // the framed records reach the end of the file without a 'q' record
  kReadError,       // the file could not be read where its size says it can
};

struct PackageCheck {
  PtFault fault = PtFault::kNone;
  int section = -1;  // record index the fault belongs to; -1 for the header itself
  int entry = -1;    // run-order position that named the section or holds the bad index
  int field = -1;    // kTextNoNul: offset of the field within its record
};

// The most image bytes one data command can carry: its text line "&d#",
// 2 digits per byte, "$", quoted behind the longest command header (24
// characters and a space) and NUL-terminated, must fit the 2000-byte buffers:
// 25 + 2 + (2n + 4) + 1 <= 2000.
constexpr int kMaxDataCommandBytes = 984;

// Where validate_package reads the file from. Tests and tools give it memory;
// the runner gives it its open FILE*.
class PackageSource {
 public:
  virtual ~PackageSource() = default;
  // The file size in bytes, or -1 when it cannot be told.
  virtual int64_t size() = 0;
  // Reads exactly n bytes at offset into out; false when that fails.
  virtual bool read(int64_t offset, uint8_t* out, size_t n) = 0;
};

class MemoryPackageSource : public PackageSource {
 public:
  MemoryPackageSource(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  int64_t size() override { return static_cast<int64_t>(size_); }
  bool read(int64_t offset, uint8_t* out, size_t n) override;

 private:
  const uint8_t* bytes_;
  size_t size_;
};

// Checks the package whose header is pt_header and whose file is source.
// Walks the run order up to its first 0xFF; for each entry checks the index,
// and for each named section of non-zero length (once per record) its text
// fields, its offset, its size against the file, and by kind: a command
// section's length; a binary section's sub-header; a framed section's records
// up to the 'q' record. Reads at most 16 bytes at a time.
// Returns the first fault found, with fault kNone when the package may run.
PackageCheck validate_package(const PtHeader& pt_header, PackageSource& source);

// The binary sub-header h of a section with image_bytes bytes of image,
// against the loops update_bin runs: kChunkEndless, kChunkOverflow or
// kEraseEndless when streaming it would never end or would overrun the
// command buffers; kNone when it may stream.
PtFault check_bin_header(const BinHeader& h, int64_t image_bytes);

// The same over the runner's open file. The file position is put back where
// it was, with the end-of-file flag cleared, so the caller can seek again.
// A file whose size or position cannot be told gives kReadError.
PackageCheck validate_package(const PtHeader& pt_header, FILE* file);

// A short English name of the fault, for tools and test output.
const char* package_fault_text(PtFault fault);
