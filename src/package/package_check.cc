#include "package/package_check.h"

#include <algorithm>
#include <cstring>
#include <span>

#include "base/messages.h"
#include "base/text.h"
#include "script/command.h"
#include "script/encoding.h"
#include "script/script.h"

namespace {

std::string hex32(int64_t value) {
  char text[16];
  snprintf(text, sizeof text, "0x%08X", static_cast<uint32_t>(value));
  return text;
}

// A signed value in hex as a person writes it: 0x1000, -0x2000.
std::string signed_hex(int64_t value) {
  char text[24];
  snprintf(text, sizeof text, "%s0x%llX", value < 0 ? "-" : "",
           static_cast<unsigned long long>(value < 0 ? -value : value));
  return text;
}

std::string section_prefix(int r) { return "section " + std::to_string(r) + ": "; }

// The text fields a section of each kind reads as strings: a command section
// only its kind, a firmware section all four (the runner copies them into the
// per-file settings).
struct TextField {
  int offset;
  int width;
  const char* name;
};
constexpr TextField kCommandFields[] = {{kRecKindOffset, kRecKindSize, "kind"}};
constexpr TextField kFirmwareFields[] = {{kRecBootVersionOffset, kRecBootVersionSize, "bootloader version"},
                                         {kRecKindOffset, kRecKindSize, "hardware"},
                                         {kRecJumpOffset, kRecJumpSize, "jump command"},
                                         {kRecHeaderOffset, kRecHeaderSize, "command header"}};

// The first used text field without a NUL, or nullptr.
const TextField* unterminated_field(const PtHeader& pt_header, int r, SectionKind kind) {
  const uint8_t* rec = pt_header + pt_record_offset(r, 0);
  std::span<const TextField> fields(kFirmwareFields);
  if (kind == SectionKind::kCommand) fields = kCommandFields;
  for (const TextField& f : fields) {
    if (memchr(rec + f.offset, 0, static_cast<size_t>(f.width)) == nullptr) return &f;
  }
  return nullptr;
}

// The number of hex digits "%02X" prints for value (non-negative).
int hex_digits(int32_t value) {
  int digits = 2;
  for (uint32_t v = static_cast<uint32_t>(value) >> 8; v != 0; v >>= 4) ++digits;
  return digits;
}

// The big-endian value of a command's payload bytes, as its hex digits read.
int64_t payload_value(const uint8_t* payload, size_t n) {
  int64_t value = 0;
  for (size_t i = 0; i < n; ++i) value = value * 256 + payload[i];
  return value;
}

// One walk over a package: the faults in the order the run meets them and
// what each section would do. With stop_at_first it ends at the first fault.
class PackageWalk {
 public:
  PackageWalk(const PtHeader& pt_header, PackageSource& source, bool stop_at_first, bool require_trailer)
      : h_(pt_header), source_(source), stop_at_first_(stop_at_first), require_trailer_(require_trailer) {}

  PackageReport run();

 private:
  bool header();
  bool trailer();
  bool cut_in_trailer();
  // Where the package's data ends, as a fault's text names it.
  std::string end_text() const {
    if (data_size_ == report_.file_size) return "the end of the file (" + std::to_string(data_size_) + " bytes)";
    return "the end of the package's data (" + std::to_string(data_size_) + " bytes, before the integrity trailer)";
  }
  void section(int r, int k);
  bool command_section(SectionSummary& s);
  bool binary_section(SectionSummary& s);
  bool framed_section(SectionSummary& s);
  bool framed_record(SectionSummary& s, const FileSettings& upd, int64_t offset, int index, bool* quit,
                     int64_t* next);
  bool command_frames(const FileSettings& upd, const char* line, int64_t offset, const std::string& what,
                      const std::string& about = "");

  // Adds a fault of the current section; returns false so callers can end the section with it.
  bool fault(PtFault f, int64_t offset, std::string text, int record = -1) {
    PackageCheck c;
    c.fault = f;
    c.section = section_;
    c.entry = entry_;
    c.record = record;
    c.offset = offset;
    c.text = section_ >= 0 ? section_prefix(section_) + text : std::move(text);
    report_.faults.push_back(std::move(c));
    return false;
  }
  bool done() const { return stop_at_first_ && !report_.faults.empty(); }
  bool read(int64_t offset, uint8_t* out, size_t n, int record = -1) {
    if (source_.read(offset, out, n)) return true;
    return fault(PtFault::kReadError, offset, "the file cannot be read here", record);
  }
  int64_t field_at(int offset) const { return pt_record_offset(section_, offset); }

  const PtHeader& h_;
  PackageSource& source_;
  bool stop_at_first_;
  PackageReport report_;
  int64_t offsets_[kSectionCount] = {};
  int64_t data_size_ = -1;  // the file size, less the integrity trailer where there is one
  bool require_trailer_;
  int section_ = -1;
  int entry_ = -1;
};

// The integrity trailer comes first: a package damaged on its way fails
// there, with the one message that says so, rather than at whatever the
// damage happens to break further on. Sets the size the sections must fit.
bool PackageWalk::trailer() {
  const TrailerCheck& t = report_.trailer = check_package_trailer(source_);
  report_.file_size = t.file_size;
  data_size_ = t.data_size;
  const int64_t at = t.file_size - kTrailerSize;
  switch (t.state) {
    case TrailerState::kReadError:
      return fault(PtFault::kReadError, -1, t.file_size < 0 ? "the size of the file cannot be told"
                                                            : "the file cannot be read");
    case TrailerState::kBadLength:
      return fault(PtFault::kTrailerMismatch, at + kTrailerLengthOffset,
                   "the integrity trailer covers " + std::to_string(t.trailer.covered_length) +
                       " bytes, but " + std::to_string(at) + " bytes lie before it: the file was cut or added to");
    case TrailerState::kBadCrc:
      return fault(PtFault::kTrailerMismatch, at + kTrailerCrcOffset,
                   "the CRC-32 of the " + std::to_string(at) + " bytes before the integrity trailer is " +
                       hex32(t.computed_crc) + ", the trailer says " + hex32(t.trailer.crc) + ": the file is damaged");
    case TrailerState::kAbsent:
      if (require_trailer_) {
        return fault(PtFault::kNoTrailer, -1, "the package carries no integrity trailer, which --strict requires");
      }
      return true;
    case TrailerState::kValid: return true;
  }
  return true;
}

bool PackageWalk::header() {
  if (!trailer() && (done() || report_.faults.back().fault == PtFault::kReadError)) return false;
  const int64_t size = data_size_;
  if (size < kPtHeaderSize) {
    return fault(PtFault::kShortHeader, -1,
                 (size == report_.file_size ? "the file is " : "the package's data is ") + std::to_string(size) +
                     " bytes, shorter than its 1968-byte header");
  }
  if (pt_magic(h_) != kPtMagic) return fault(PtFault::kBadMagic, kMagicOffset, "the magic is not D0 47 9B 1B");
  pt_data_offsets(h_, offsets_);
  return !cut_in_trailer() || !done();
}

// A package whose copy stopped inside its trailer: the sections' data ends
// 1 .. 15 bytes before the end of the file, and those bytes are the
// beginning of a trailer. The data is whole, but the copy is not: it is
// refused like any other cut.
bool PackageWalk::cut_in_trailer() {
  if (report_.trailer.state != TrailerState::kAbsent) return false;
  const int64_t end = offsets_[kSectionCount - 1] + pt_section_length(h_, kSectionCount - 1);
  const int64_t extra = data_size_ - end;
  if (extra <= 0 || extra >= kTrailerSize) return false;
  uint8_t tail[kTrailerSize];
  if (!source_.read(end, tail, static_cast<size_t>(extra))) return false;
  size_t marker = std::min(static_cast<size_t>(extra), sizeof kTrailerMarker);
  if (memcmp(tail, kTrailerMarker, marker) != 0) return false;
  fault(PtFault::kTrailerMismatch, end,
        "the file ends " + std::to_string(extra) + " bytes into its integrity trailer: the copy was cut short");
  return true;
}

PackageReport PackageWalk::run() {
  if (!header()) return std::move(report_);
  bool checked[kSectionCount] = {};
  for (int k = 0; k < kRunOrderSize && !done(); ++k) {
    int r = pt_run_order_entry(h_, k);
    if (r == kRunOrderEnd) break;
    if (r >= kSectionCount) {
      section_ = -1;
      entry_ = k;
      fault(PtFault::kBadRunOrder, kRunOrderOffset + k,
            "run-order entry " + std::to_string(k) + " names record " + std::to_string(r) + "; records are 0 .. 19");
      break;
    }
    uint32_t length = pt_section_length(h_, r);
    if (length == 0) continue;
    uint8_t flags = h_[pt_record_offset(r, kRecFlagsOffset)];
    if (section_kind(flags) != SectionKind::kCommand) report_.mode_after = section_mode(flags);
    if (checked[r]) continue;
    checked[r] = true;
    section(r, k);
  }
  return std::move(report_);
}

void PackageWalk::section(int r, int k) {
  section_ = r;
  entry_ = k;
  SectionSummary s;
  s.index = r;
  s.entry = k;
  s.record = pt_record(h_, r);
  s.kind = section_kind(s.record.flags);
  s.offset = offsets_[r];
  const int64_t length = s.record.length;
  bool ok = false;
  if (const TextField* f = unterminated_field(h_, r, s.kind)) {
    fault(PtFault::kTextNoNul, field_at(f->offset),
          std::string("the ") + f->name + " field has no NUL within its " + std::to_string(f->width) + " bytes");
    report_.faults.back().field = f->offset;
  } else if (s.offset + length > kMaxPackageOffset) {
    fault(PtFault::kOffsetOverflow, field_at(kRecLengthOffset),
          "its " + std::to_string(length) + " bytes from byte " + std::to_string(s.offset) +
              " would end beyond byte " + std::to_string(kMaxPackageOffset));
  } else {
    switch (s.kind) {
      case SectionKind::kCommand: ok = command_section(s); break;
      case SectionKind::kBinary: ok = binary_section(s); break;
      case SectionKind::kFramed: ok = framed_section(s); break;
    }
  }
  s.complete = ok;
  report_.sections.push_back(std::move(s));
}

bool PackageWalk::command_section(SectionSummary& s) {
  const int64_t length = s.record.length;
  if (length > kMaxCommandText) {
    return fault(PtFault::kCommandTooLong, field_at(kRecLengthOffset),
                 "a command section of " + std::to_string(length) + " bytes; at most " +
                     std::to_string(kMaxCommandText));
  }
  if (s.offset + length > data_size_) {
    return fault(PtFault::kPastEnd, field_at(kRecLengthOffset),
                 "its " + std::to_string(length) + " bytes from byte " + std::to_string(s.offset) +
                     " run past " + end_text());
  }
  char text[kMaxCommandText + 1] = {};
  if (!read(s.offset, reinterpret_cast<uint8_t*>(text), static_cast<size_t>(length))) return false;
  s.text = text;
  const char* kind = s.record.kind;
  if (strncmp(kind, kMachineSectionKind, kSectionKindLength) != 0 &&
      strncmp(kind, kSystemSectionKind, kSectionKindLength) != 0) {
    return fault(PtFault::kCommandKind, field_at(kRecKindOffset),
                 "a command section of kind " + in_quotes(escaped(kind, true)) + "; only mcmd and scmd exist");
  }
  return true;
}

// Frames one command line as program_cmd would in the section's settings.
// what begins a fault's text ("framed record 3: "); about follows the
// quoted line (" (chunk size 0x100)").
bool PackageWalk::command_frames(const FileSettings& upd, const char* line, int64_t offset, const std::string& what,
                                 const std::string& about) {
  CommandRefusal refusal = command_refusal(line, upd);
  if (refusal.message == nullptr) return true;
  if (refusal.entry_mode) {
    return fault(PtFault::kEntryMode, offset,
                 what + "its transfer command is in entry mode " + std::to_string(upd.mode) + "; only 0 .. 3 exist");
  }
  fault(PtFault::kCommandRefused, offset,
        what + "the command line " + in_quotes(escaped(line, true)) + about + " is refused in " +
            (upd.binary ? "binary" : "text") + " mode: " + refusal.why);
  report_.faults.back().framing_message = refusal.message;
  return false;
}

bool PackageWalk::binary_section(SectionSummary& s) {
  const int64_t length = s.record.length;
  if (length < kBinHeaderSize) {
    return fault(PtFault::kBinaryTooShort, field_at(kRecLengthOffset),
                 "a binary section of " + std::to_string(length) + " bytes, shorter than its 16-byte sub-header");
  }
  if (s.offset + length > data_size_) {
    return fault(PtFault::kPastEnd, field_at(kRecLengthOffset),
                 "its " + std::to_string(length) + " bytes from byte " + std::to_string(s.offset) +
                     " run past " + end_text());
  }
  uint8_t raw[kBinHeaderSize];
  if (!read(s.offset, raw, sizeof raw)) return false;
  const BinHeader b = s.bin = decode_bin_header(raw);
  const int64_t image = length - kBinHeaderSize;
  const int64_t chunk_at = s.offset + kBinChunkOffset;
  switch (check_bin_header(b, image)) {
    case PtFault::kChunkEndless:
      return fault(PtFault::kChunkEndless, chunk_at,
                   "chunk size " + std::to_string(b.chunk_size) + " never uses up the " + std::to_string(image) +
                       "-byte image");
    case PtFault::kChunkOverflow:
      return fault(PtFault::kChunkOverflow, chunk_at,
                   "chunk size " + signed_hex(b.chunk_size) + ": its data commands do not fit the 2000-byte "
                   "command buffer");
    case PtFault::kEraseEndless:
      return fault(PtFault::kEraseEndless, s.offset + kBinStepOffset,
                   "erase addresses from " + hex32(b.start_address) + " by step " + signed_hex(b.erase_step) +
                       " never pass the end address " + hex32(b.end_address));
    default: break;
  }

  // The commands update_bin sends, in its order; erase, write-address and
  // data commands differ only in their hex digits, so one of each size is
  // framed.
  FileSettings upd;
  apply_section_record(upd, s.record);
  char line[kDataSize];
  if (!command_frames(upd, kEnterCommand, field_at(kRecFlagsOffset), "")) return false;
  snprintf(line, sizeof line, kBCommandFormat, pt_b_argument(h_));
  if (!command_frames(upd, line, kBArgumentOffset, "", " (b-command argument " + signed_hex(pt_b_argument(h_)) + ")")) {
    return false;
  }
  if (!command_frames(upd, kVCommand, s.offset, "")) return false;
  snprintf(line, sizeof line, kLCommandFormat, static_cast<uint32_t>(b.chunk_size));
  if (!command_frames(upd, line, chunk_at, "", " (chunk size " + signed_hex(b.chunk_size) + ")")) return false;
  snprintf(line, sizeof line, kECommandFormat, static_cast<uint32_t>(b.start_address));
  if (!command_frames(upd, line, s.offset, "")) return false;
  snprintf(line, sizeof line, kWCommandFormat, static_cast<uint32_t>(b.start_address));
  if (!command_frames(upd, line, s.offset, "")) return false;
  // The first data command is the longest; the framing does not look at
  // the digits' values.
  const int64_t first_chunk = image > b.chunk_size ? int64_t{b.chunk_size} : image;
  char frame[kDataSize] = {};
  memcpy(frame, kDataCommandHead, 3);
  frame[3 + first_chunk] = '$';
  TranStrData(frame, line, static_cast<int>(first_chunk + 4), kDataSize);
  if (!command_frames(upd, line, chunk_at, "", " (chunk size " + signed_hex(b.chunk_size) + ")")) return false;
  if (!command_frames(upd, kXCommand, s.offset, "")) return false;

  if (b.start_address <= b.end_address) {
    s.erases = (static_cast<int64_t>(b.end_address) - b.start_address) / b.erase_step + 1;
  } else {
    s.erases = 1;
  }
  s.first_erase = b.start_address;
  s.last_erase = b.start_address + (s.erases - 1) * b.erase_step;
  s.writes.push_back({b.start_address, image});
  return true;
}

bool PackageWalk::framed_section(SectionSummary& s) {
  // The records, not the length, bound a framed section; its data must
  // only start inside the file.
  if (s.offset >= data_size_) {
    return fault(PtFault::kPastEnd, field_at(kRecLengthOffset),
                 "its data would start at byte " + std::to_string(s.offset) + ", at or past " + end_text());
  }
  FileSettings upd;
  apply_section_record(upd, s.record);
  int64_t offset = s.offset;
  for (int index = 0;; ++index) {
    bool quit = false;
    if (!framed_record(s, upd, offset, index, &quit, &offset)) return false;
    if (quit) return true;
  }
}

// One record at offset, as update_img reads and sends it. Sets *quit after
// the 'q' record, *next to the offset of the record after it.
bool PackageWalk::framed_record(SectionSummary& s, const FileSettings& upd, int64_t offset, int index, bool* quit,
                                int64_t* next) {
  const int64_t file_size = data_size_;
  const std::string end = data_size_ == report_.file_size ? "the end of the file" : "the end of the package's data";
  if (offset == file_size) {
    return fault(PtFault::kNoQuitRecord, offset, "the framed records reach " + end + " without a 'q' record",
                 index);
  }
  const std::string record = "framed record " + std::to_string(index);
  uint8_t length_bytes[kFramedLengthSize];
  if (offset + kFramedLengthSize > file_size) {
    return fault(PtFault::kNoQuitRecord, offset, record + " runs past " + end + " before a 'q' record", index);
  }
  if (!read(offset, length_bytes, sizeof length_bytes, index)) return false;
  int length = get_le16(length_bytes);
  if (!framed_length_ok(length)) {
    return fault(PtFault::kRecordLength, offset,
                 record + " has length " + std::to_string(length) + ", outside 2 .. 256", index);
  }
  const int64_t at = offset + kFramedLengthSize;
  if (at + length > file_size) {
    return fault(PtFault::kNoQuitRecord, offset, record + " runs past " + end + " before a 'q' record", index);
  }
  uint8_t raw[kMaxFramedRecord] = {};
  if (!read(at, raw, static_cast<size_t>(length), index)) return false;
  if (!is_framed_prefix(raw[0])) {
    char byte[8];
    snprintf(byte, sizeof byte, "0x%02X", raw[0]);
    return fault(PtFault::kRecordPrefix, at, record + " begins with " + byte + ", which is none of ^ & * %", index);
  }
  char line[kDataSize];
  TranStrData(reinterpret_cast<const char*>(raw), line, length, kDataSize);
  if (!command_frames(upd, line, at, record + ": ")) {
    report_.faults.back().record = index;
    return false;
  }
  // What it does to the flash, for the summary.
  size_t counted = raw[length - 1] == 0 ? static_cast<size_t>(length) - 1 : static_cast<size_t>(length);
  size_t payload = raw[2] == '$' || counted < 4 ? 0 : counted - 4;
  if ((raw[1] == 'e' || raw[1] == 'w') && payload == 4) {
    int64_t address = payload_value(raw + 3, payload);
    if (raw[1] == 'w') {
      s.writes.push_back({address, 0});
    } else {
      if (s.erases++ == 0) s.first_erase = address;
      s.last_erase = address;
    }
  } else if (raw[1] == 'd' && !s.writes.empty()) {
    s.writes.back().bytes += static_cast<int64_t>(payload);
  }
  ++s.records;
  *quit = raw[1] == kQuitLetter;
  *next = at + length;
  return true;
}

PackageCheck fault_of(PackageReport report) {
  if (report.faults.empty()) return PackageCheck{};
  return std::move(report.faults.front());
}

}  // namespace

bool framed_length_ok(int length) { return length >= kMinFramedRecord && length <= kMaxFramedRecord; }

void apply_section_record(FileSettings& upd, const SectionRecord& rec) {
  copy_text(upd.jump_boot, sizeof upd.jump_boot, rec.jump_command);
  set_command_header(upd, rec.command_header);
  upd.binary = rec.binary;
  upd.mode = section_mode(rec.flags);
  copy_text(upd.boot_version, sizeof upd.boot_version, rec.boot_version);
  copy_text(upd.HW_version, sizeof upd.HW_version, rec.kind);
}

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

PackageReport check_package(const PtHeader& pt_header, PackageSource& source, bool require_trailer) {
  return PackageWalk(pt_header, source, false, require_trailer).run();
}

PackageReport check_package(const PtHeader& pt_header, FILE* file, bool require_trailer) {
  FilePackageSource source(file);
  return check_package(pt_header, source, require_trailer);
}

PackageCheck validate_package(const PtHeader& pt_header, PackageSource& source, bool require_trailer) {
  return fault_of(PackageWalk(pt_header, source, true, require_trailer).run());
}

PackageCheck validate_package(const PtHeader& pt_header, FILE* file, bool require_trailer) {
  long position = std::ftell(file);
  if (position < 0) {
    PackageCheck c;
    c.fault = PtFault::kReadError;
    c.text = "the file position cannot be told";
    return c;
  }
  FilePackageSource source(file);
  PackageCheck result = validate_package(pt_header, source, require_trailer);
  // fseek also clears the end-of-file flag a short read may have set.
  if (std::fseek(file, position, SEEK_SET) != 0 && result.fault == PtFault::kNone) {
    result.fault = PtFault::kReadError;
    result.text = "the file cannot be read";
  }
  return result;
}

Finding package_finding(const PackageCheck& check) {
  Finding f;
  f.offset = check.offset;
  f.text = check.text;
  switch (check.fault) {
    case PtFault::kNoQuitRecord:
    case PtFault::kRecordLength: f.messages[0] = msg::kCorrupted10_2; break;
    case PtFault::kRecordPrefix: f.messages[0] = msg::kCorrupted10_3; break;
    case PtFault::kCommandKind: f.messages[0] = msg::kCorrupted10_6; break;
    case PtFault::kBinaryTooShort:
    case PtFault::kChunkEndless:
    case PtFault::kChunkOverflow:
    case PtFault::kEraseEndless: f.messages[0] = msg::kCorrupted10_4; break;
    case PtFault::kCommandRefused:
      f.messages[0] = check.framing_message;
      f.messages[1] = msg::kCorrupted10_5;
      break;
    case PtFault::kEntryMode:
      f.messages[0] = msg::kCorrupted3;
      f.messages[1] = msg::kCorrupted10_5;
      break;
    case PtFault::kTrailerMismatch: f.messages[0] = msg::kCorrupted10_7; break;
    case PtFault::kNoTrailer: f.messages[0] = msg::kCorrupted10_8; break;
    default: f.messages[0] = msg::kCorrupted10_1; break;
  }
  return f;
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
    case PtFault::kRecordLength: return "framed record length outside 2 .. 256";
    case PtFault::kRecordPrefix: return "framed record prefix none of ^ & * %";
    case PtFault::kCommandKind: return "command section neither mcmd nor scmd";
    case PtFault::kCommandRefused: return "a command the framing refuses";
    case PtFault::kEntryMode: return "transfer command in an entry mode outside 0 .. 3";
    case PtFault::kTrailerMismatch: return "integrity trailer does not match the package";
    case PtFault::kNoTrailer: return "no integrity trailer (--strict)";
  }
  return "unknown fault";
}
