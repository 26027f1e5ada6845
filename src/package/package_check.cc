#include "package/package_check.h"

#include <cstring>
#include <span>

bool MemoryPackageSource::read(int64_t offset, uint8_t* out, size_t n) {
  if (offset < 0 || static_cast<uint64_t>(offset) > size_ || n > size_ - static_cast<size_t>(offset)) {
    return false;
  }
  memcpy(out, bytes_ + offset, n);
  return true;
}

namespace {

class FilePackageSource : public PackageSource {
 public:
  explicit FilePackageSource(FILE* file) : file_(file) {}
  int64_t size() override {
    if (std::fseek(file_, 0, SEEK_END) != 0) return -1;
    return std::ftell(file_);
  }
  bool read(int64_t offset, uint8_t* out, size_t n) override {
    if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return false;
    return std::fread(out, 1, n, file_) == n;
  }

 private:
  FILE* file_;
};

PackageCheck fault_at(PtFault fault, int section, int entry, int field = -1) {
  return PackageCheck{fault, section, entry, field};
}

// The text fields a section of each kind reads as strings: a command section
// only its kind, a firmware section all four (the runner copies them into the
// per-file settings).
struct TextField {
  int offset;
  int width;
};
constexpr TextField kCommandFields[] = {{kRecKindOffset, kRecKindSize}};
constexpr TextField kFirmwareFields[] = {{kRecBootVersionOffset, kRecBootVersionSize},
                                         {kRecKindOffset, kRecKindSize},
                                         {kRecJumpOffset, kRecJumpSize},
                                         {kRecHeaderOffset, kRecHeaderSize}};

// The record offset of the first used text field without a NUL, or -1.
int unterminated_field(const PtHeader& pt_header, int r, SectionKind kind) {
  const uint8_t* rec = pt_header + pt_record_offset(r, 0);
  std::span<const TextField> fields(kFirmwareFields);
  if (kind == SectionKind::kCommand) fields = kCommandFields;
  for (const TextField& f : fields) {
    if (memchr(rec + f.offset, 0, static_cast<size_t>(f.width)) == nullptr) return f.offset;
  }
  return -1;
}

// The number of hex digits "%02X" prints for value (non-negative).
int hex_digits(int32_t value) {
  int digits = 2;
  for (uint32_t v = static_cast<uint32_t>(value) >> 8; v != 0; v >>= 4) ++digits;
  return digits;
}

PtFault check_binary(PackageSource& source, int64_t offset, uint32_t length) {
  uint8_t bytes[kBinHeaderSize];
  if (!source.read(offset, bytes, sizeof bytes)) return PtFault::kReadError;
  return check_bin_header(decode_bin_header(bytes), static_cast<int64_t>(length) - kBinHeaderSize);
}

// Walks the records from offset to the first 'q' record. Records may run past
// the section's length but not past the file. A record the streamer refuses
// itself (length or prefix) ends the walk without a fault, so that its own
// message stays the one the operator sees.
PtFault walk_framed(PackageSource& source, int64_t offset, int64_t file_size) {
  for (;;) {
    uint8_t length_bytes[kFramedLengthSize];
    if (offset + kFramedLengthSize > file_size) return PtFault::kNoQuitRecord;
    if (!source.read(offset, length_bytes, sizeof length_bytes)) return PtFault::kReadError;
    int length = get_le16(length_bytes);
    if (length < kMinFramedRecord || length > kMaxFramedRecord) return PtFault::kNone;
    offset += kFramedLengthSize;
    if (offset + length > file_size) return PtFault::kNoQuitRecord;
    uint8_t head[2];
    if (!source.read(offset, head, sizeof head)) return PtFault::kReadError;
    if (!is_framed_prefix(head[0])) return PtFault::kNone;
    if (head[1] == kQuitLetter) return PtFault::kNone;
    offset += length;
  }
}

PtFault check_section_data(PackageSource& source, SectionKind kind, int64_t offset, uint32_t length,
                           int64_t file_size) {
  int64_t end = offset + length;
  switch (kind) {
    case SectionKind::kCommand:
      if (length > kMaxCommandText) return PtFault::kCommandTooLong;
      return end > file_size ? PtFault::kPastEnd : PtFault::kNone;
    case SectionKind::kBinary:
      if (length < static_cast<uint32_t>(kBinHeaderSize)) return PtFault::kBinaryTooShort;
      if (end > file_size) return PtFault::kPastEnd;
      return check_binary(source, offset, length);
    case SectionKind::kFramed:
      // The records, not the length, bound a framed section; its data must
      // only start inside the file.
      if (offset >= file_size) return PtFault::kPastEnd;
      return walk_framed(source, offset, file_size);
  }
  return PtFault::kNone;
}

}  // namespace

PtFault check_bin_header(const BinHeader& h, int64_t image_bytes) {
  // Data commands take the chunk size while more bytes are left than it, so
  // a chunk below 1 never uses the image up (a negative one even grows it).
  if (h.chunk_size < 1 && image_bytes > h.chunk_size) return PtFault::kChunkEndless;
  // A chunk size whose "%02X" form has an odd digit count is refused by the
  // framing at the "l" command, which the operator sees as (10-5). An even
  // count passes it, and data commands of that size would overrun the
  // 2000-byte command buffers.
  int64_t first_chunk = image_bytes > h.chunk_size ? h.chunk_size : image_bytes;
  if (h.chunk_size > 0xFF && hex_digits(h.chunk_size) % 2 == 0 && first_chunk > kMaxDataCommandBytes) {
    return PtFault::kChunkOverflow;
  }
  if (h.start_address <= h.end_address) {
    if (h.erase_step < 1) return PtFault::kEraseEndless;
    // The last erase address at or below the end address; the step past it
    // must not wrap round the signed 32-bit range, or the loop never ends.
    int64_t span = static_cast<int64_t>(h.end_address) - h.start_address;
    int64_t last = h.start_address + span / h.erase_step * h.erase_step;
    if (last + h.erase_step > kMaxPackageOffset) return PtFault::kEraseEndless;
  } else if (h.erase_step < 0 && static_cast<int64_t>(h.start_address) + h.erase_step <= h.end_address) {
    // From above the end address a step downwards lands at or below it, and
    // from there every further step goes lower still: the erasing never ends.
    return PtFault::kEraseEndless;
  }
  return PtFault::kNone;
}

PackageCheck validate_package(const PtHeader& pt_header, PackageSource& source) {
  int64_t file_size = source.size();
  if (file_size < 0) return fault_at(PtFault::kReadError, -1, -1);
  if (file_size < kPtHeaderSize) return fault_at(PtFault::kShortHeader, -1, -1);
  if (pt_magic(pt_header) != kPtMagic) return fault_at(PtFault::kBadMagic, -1, -1);

  int64_t offsets[kSectionCount];
  pt_data_offsets(pt_header, offsets);
  bool checked[kSectionCount] = {};
  for (int k = 0; k < kRunOrderSize; ++k) {
    int r = pt_run_order_entry(pt_header, k);
    if (r == kRunOrderEnd) break;
    if (r >= kSectionCount) return fault_at(PtFault::kBadRunOrder, -1, k);
    uint32_t length = pt_section_length(pt_header, r);
    if (length == 0 || checked[r]) continue;
    checked[r] = true;

    SectionKind kind = section_kind(pt_header[pt_record_offset(r, kRecFlagsOffset)]);
    int field = unterminated_field(pt_header, r, kind);
    if (field >= 0) return fault_at(PtFault::kTextNoNul, r, k, field);
    if (offsets[r] + length > kMaxPackageOffset) return fault_at(PtFault::kOffsetOverflow, r, k);
    PtFault fault = check_section_data(source, kind, offsets[r], length, file_size);
    if (fault != PtFault::kNone) return fault_at(fault, r, k);
  }
  return PackageCheck{};
}

PackageCheck validate_package(const PtHeader& pt_header, FILE* file) {
  long position = std::ftell(file);
  if (position < 0) return fault_at(PtFault::kReadError, -1, -1);
  FilePackageSource source(file);
  PackageCheck result = validate_package(pt_header, source);
  // fseek also clears the end-of-file flag a short read may have set.
  if (std::fseek(file, position, SEEK_SET) != 0 && result.fault == PtFault::kNone) {
    result = fault_at(PtFault::kReadError, -1, -1);
  }
  return result;
}

const char* package_fault_text(PtFault fault) {
  switch (fault) {
    case PtFault::kNone: return "no fault";
    case PtFault::kShortHeader: return "file shorter than the 1968-byte header";
    case PtFault::kBadMagic: return "magic is not D0 47 9B 1B";
    case PtFault::kBadRunOrder: return "run-order entry names no record (20 .. 254)";
    case PtFault::kTextNoNul: return "text field without its NUL";
    case PtFault::kOffsetOverflow: return "section data beyond the signed 32-bit range";
    case PtFault::kCommandTooLong: return "command section over 1999 bytes";
    case PtFault::kBinaryTooShort: return "binary section shorter than its 16-byte sub-header";
    case PtFault::kPastEnd: return "section data runs past the end of the file";
    case PtFault::kChunkEndless: return "chunk size below 1 while image bytes are left";
    case PtFault::kChunkOverflow: return "data commands of this chunk size overrun the command buffer";
    case PtFault::kEraseEndless: return "erase addresses never pass the end address";
    case PtFault::kNoQuitRecord: return "framed records reach the end of the file without a 'q' record";
    case PtFault::kReadError: return "file cannot be read";
  }
  return "unknown fault";
}
