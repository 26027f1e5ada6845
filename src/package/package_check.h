// The check of a package before anything of it reaches the instrument.
//
// The runner reads the header and then streams sections one at a time, so
// a fault in a later section would otherwise be found only after earlier
// sections had changed the instrument: an instrument left half-updated.
// check_package looks at everything of every section the run order names
// that can be judged without the instrument, in the order the run meets
// it, with the message the run prints where it meets it:
//   - the integrity trailer, when there is one: "(10-7)" when it does not
//     match; none at all where --strict requires it: "(10-8)";
//   - header and layout: size, magic, run order, text fields, offsets, a
//     section past the end of the file, a command section over 1999 bytes:
//     "Corrupted Update File. (10-1)";
//   - a command section neither "mcmd" nor "scmd": "(10-6)";
//   - a binary sub-header that never ends or overruns the command buffer:
//     "(10-4)"; every command the section streams, framed as program_cmd
//     frames it in the section's send mode: "(2)" (text) or "(1)" (binary),
//     then "(10-5)"; its transfer command in an entry mode outside 0..3:
//     "(3)", then "(10-5)";
//   - framed records up to the 'q' record: a length outside 2 .. 256 or no
//     'q' record before the end of the file: "(10-2)"; a prefix that is none
//     of ^ & * %: "(10-3)"; every record's command framed as above.
// The runner, --check and tmpack use it; the streamers keep their own
// checks of the same rules, so that a file changed under the run still
// cannot make them loop or overrun a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "base/finding.h"
#include "package/package_format.h"
#include "package/package_source.h"
#include "package/package_trailer.h"
#include "script/file_settings.h"

enum class PtFault {
  kNone = 0,
  kShortHeader,      // the file is shorter than the 1968-byte header
  kBadMagic,         // the first four bytes are not D0 47 9B 1B
  kBadRunOrder,      // a run-order entry 20 .. 254 names no record
  kTextNoNul,        // a text field the section uses has no NUL inside its width
  kOffsetOverflow,   // the section's data does not end below 2^31
  kCommandTooLong,   // a command section over 1999 bytes
  kBinaryTooShort,   // a binary section shorter than its 16-byte sub-header
  kPastEnd,          // the section's data runs past the end of the file
  kChunkEndless,     // chunk size below 1 while image bytes are left: the image never ends
  kChunkOverflow,    // the "l" command passes but a data command would not fit 2000 bytes
  kEraseEndless,     // the erase addresses never pass the end address
  kNoQuitRecord,     // the framed records reach the end of the file without a 'q' record
  kReadError,        // the file could not be read where its size says it can
  kRecordLength,     // a framed record length outside 2 .. 256
  kRecordPrefix,     // a framed record whose first byte is none of ^ & * %
  kCommandKind,      // a command section neither "mcmd" nor "scmd"
  kCommandRefused,   // a command of a firmware section that program_cmd cannot frame
  kEntryMode,        // a transfer command in an entry mode outside 0 .. 3
  kTrailerMismatch,  // the integrity trailer's length or CRC does not match the file
  kNoTrailer,        // no integrity trailer, where the run requires one (--strict)
};

struct PackageCheck {
  PtFault fault = PtFault::kNone;
  int section = -1;     // record index the fault belongs to; -1 for the header itself
  int entry = -1;       // run-order position that named the section or holds the bad index
  int field = -1;       // kTextNoNul: offset of the field within its record
  int record = -1;      // framed sections: the index of the record, from 0
  int64_t offset = -1;  // where in the file: the field, record or length at fault; -1 for the whole file
  const char* framing_message = nullptr;  // kCommandRefused: "(1)" or "(2)", as program_cmd prints it
  std::string text;     // what is wrong, in words
};

// The most image bytes one data command can carry: its text line "&d#",
// 2 digits per byte, "$", quoted behind the longest command header (24
// characters and a space) and NUL-terminated, must fit the 2000-byte buffers:
// 25 + 2 + (2n + 4) + 1 <= 2000.
constexpr int kMaxDataCommandBytes = 984;

// A stretch of flash a section writes.
struct WriteRange {
  int64_t start = 0;
  int64_t bytes = 0;
};

// What one section the run order names would do, as far as the file tells.
struct SectionSummary {
  int index = 0;      // record index
  int entry = 0;      // the first run-order position naming it
  SectionRecord record{};
  SectionKind kind = SectionKind::kCommand;
  int64_t offset = 0;  // where its data begins in the file
  std::string text;    // command sections: the command text
  BinHeader bin{};     // binary sections: the sub-header
  int records = 0;     // framed sections: records up to and including the 'q' record
  int64_t erases = 0;  // erase commands
  int64_t first_erase = -1, last_erase = -1;  // their addresses (-1: none)
  std::vector<WriteRange> writes;             // in the order they are written
  bool complete = false;  // the whole section was read without a fault
};

struct PackageReport {
  int64_t file_size = -1;  // the whole file, integrity trailer included
  TrailerCheck trailer;    // the integrity trailer and what the check made of it
  // Every fault, in the order a run meets them; the first is the one the run
  // refuses the package with. A section's data after its first fault cannot
  // be trusted, so each section has at most one.
  std::vector<PackageCheck> faults;
  std::vector<SectionSummary> sections;  // each named record with data, once, in run order
  int mode_after = -1;  // entry mode of the last firmware section a run sets; -1: none
};

// Checks the package whose header is pt_header and whose file is source, as
// described at the top. First the integrity trailer (package_trailer.h),
// when the file carries one: a length or CRC that does not match is
// kTrailerMismatch, "Corrupted Update File. (10-7)"; with require_trailer
// (--strict) a package without one is kNoTrailer, "(10-8)". The sections
// must then lie within the bytes before the trailer. Walks the run order up
// to its first 0xFF; each named record of non-zero length is checked once.
// Reads at most one framed record (256 bytes) at a time.
PackageReport check_package(const PtHeader& pt_header, PackageSource& source, bool require_trailer = false);

// The same over an open file (its position is left anywhere).
PackageReport check_package(const PtHeader& pt_header, FILE* file, bool require_trailer = false);

// The same, stopping at the first fault: the one the run refuses the package
// with; fault kNone when the package may run.
PackageCheck validate_package(const PtHeader& pt_header, PackageSource& source, bool require_trailer = false);

// The same over the runner's open file. The file position is put back where
// it was, with the end-of-file flag cleared, so the caller can seek again.
// A file whose size or position cannot be told gives kReadError.
PackageCheck validate_package(const PtHeader& pt_header, FILE* file, bool require_trailer = false);

// The binary sub-header h of a section with image_bytes bytes of image,
// against the loops update_bin runs: kChunkEndless, kChunkOverflow or
// kEraseEndless when streaming it would never end or would overrun the
// command buffers; kNone when it may stream.
PtFault check_bin_header(const BinHeader& h, int64_t image_bytes);

// True for a framed record length the streamer accepts: 2 .. 256.
bool framed_length_ok(int length);

// The per-file settings a firmware section runs with, from its record: the
// jump command, the command header, the send mode, the entry mode and the
// accepted versions. The other settings keep what upd holds.
void apply_section_record(FileSettings& upd, const SectionRecord& rec);

// The fault as the run reports it: its numbered messages, its place and its
// text. fault must not be kNone.
Finding package_finding(const PackageCheck& check);

// A short English name of the fault, for tools and test output.
const char* package_fault_text(PtFault fault);
