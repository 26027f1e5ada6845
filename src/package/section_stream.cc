#include "package/section_stream.h"

#include <cstring>

#include "base/console.h"
#include "base/messages.h"
#include "base/results.h"
#include "package/package_check.h"
#include "package/package_format.h"
#include "script/command.h"
#include "script/encoding.h"

namespace {

// The states of a binary section, in the order its commands go out.
enum BinState { kEnter, kSetB, kSetV, kSetL, kErase, kWriteAddress, kData, kEnd, kDone };

// program_cmd's result, after "(10-5)" when it is not kCommandDone.
int sent(PackageUpdater& u, int r) {
  if (r != kCommandDone) printf_color(u.os, kColourRed, msg::kCorrupted10_5);
  return r;
}

// Sends the command line in src_data. Returns 0, or program_cmd's result
// after "(10-5)".
int send(PackageUpdater& u, int selection, int attempt) { return sent(u, program_cmd(u, selection, attempt)); }

struct BinStream {
  BinHeader header;
  int64_t erase_address;  // 64 bits: adding the step must not wrap past the end test
  int64_t left;           // image bytes still to send
  int64_t done;           // bytes of the section read so far
};

// Reads up to one chunk of the image and sends it as a data command, framed
// straight from its bytes. Returns 0; 1 after "(10-1)" when the file ends
// early; otherwise program_cmd's result after "(10-5)". Sets *last when the
// image has been read to its end.
int send_data_command(PackageUpdater& u, int selection, int attempt, BinStream& s, uint32_t length, FILE* file,
                      ProgressLine& progress, bool* last) {
  int64_t n = s.left > s.header.chunk_size ? s.header.chunk_size : s.left;
  *last = n == s.left;
  uint8_t chunk[kDataSize];  // check_bin_header() keeps a chunk well below this
  if (fread(chunk, 1, static_cast<size_t>(n), file) != static_cast<size_t>(n)) {
    return report_failure(u.os, msg::kCorrupted10_1);
  }
  s.left -= n;
  s.done += n;
  progress.print(u.os, s.done, length);
  return sent(u, program_built_cmd(u, selection, attempt, kDataCommandHead, chunk, static_cast<int>(n)));
}

}  // namespace

int update_bin(PackageUpdater& u, int selection, int attempt, uint32_t length, FILE* file) {
  // Such a section has no image: the bytes left would start negative, and the
  // one data command would read the rest of the file into its frame buffer.
  if (length < static_cast<uint32_t>(kBinHeaderSize)) return report_failure(u.os, msg::kCorrupted10_4);
  uint8_t raw[kBinHeaderSize];
  if (fread(raw, 1, sizeof raw, file) != sizeof raw) return report_failure(u.os, msg::kCorrupted10_1);
  BinStream s{decode_bin_header(raw), 0, static_cast<int64_t>(length) - kBinHeaderSize, kBinHeaderSize};
  // The package runner has checked this before the instrument was opened;
  // checked again here, a sub-header that would loop or overrun the frame
  // buffer cannot reach the streaming whoever calls it.
  if (check_bin_header(s.header, s.left) != PtFault::kNone) return report_failure(u.os, msg::kCorrupted10_4);
  s.erase_address = s.header.start_address;
  ProgressLine progress;
  progress.print(u.os, s.done, length);

  char* line = u.upd.src_data;
  BinState state = kEnter;
  while (state != kDone) {
    if (state == kData) {
      bool last = false;
      int r = send_data_command(u, selection, attempt, s, length, file, progress, &last);
      if (r != kCommandDone) return r;
      state = last ? kEnd : kData;
      continue;
    }
    memset(line, 0, kDataSize);
    BinState next = static_cast<BinState>(state + 1);
    switch (state) {
      case kEnter: strcpy(line, kEnterCommand); break;
      case kSetB: snprintf(line, kDataSize, kBCommandFormat, pt_b_argument(u.pkg.pt_header)); break;
      case kSetV: strcpy(line, kVCommand); break;
      case kSetL: snprintf(line, kDataSize, kLCommandFormat, static_cast<uint32_t>(s.header.chunk_size)); break;
      case kErase:
        snprintf(line, kDataSize, kECommandFormat, static_cast<uint32_t>(s.erase_address));
        s.erase_address += s.header.erase_step;
        if (s.erase_address <= s.header.end_address) next = kErase;
        break;
      case kWriteAddress:
        snprintf(line, kDataSize, kWCommandFormat, static_cast<uint32_t>(s.header.start_address));
        break;
      case kEnd: strcpy(line, kXCommand); break;
      case kData:
      case kDone: break;
    }
    int r = send(u, selection, attempt);
    if (r != kCommandDone) return r;
    // A data command that succeeds prints nothing; any other may (the
    // transfer command's handshake does), so the next line is written.
    progress.forget();
    state = next;
  }
  return kOk;
}

int update_img(PackageUpdater& u, int selection, int attempt, uint32_t length, FILE* file) {
  char record[kDataSize];
  int64_t done = 0;
  ProgressLine progress;
  for (;;) {
    memset(record, 0, sizeof record);
    uint8_t size_bytes[kFramedLengthSize];
    if (fread(size_bytes, 1, sizeof size_bytes, file) != sizeof size_bytes) {
      return report_failure(u.os, msg::kCorrupted10_2);
    }
    uint16_t record_length = get_le16(size_bytes);
    done += kFramedLengthSize;
    progress.print(u.os, done, length);
    if (!framed_length_ok(record_length)) return report_failure(u.os, msg::kCorrupted10_2);
    if (fread(record, 1, record_length, file) != record_length) return report_failure(u.os, msg::kCorrupted10_2);
    done += record_length;
    progress.print(u.os, done, length);
    if (!is_framed_prefix(static_cast<uint8_t>(record[0]))) return report_failure(u.os, msg::kCorrupted10_3);
    TranStrData(record, u.upd.src_data, record_length, kDataSize);
    int r = send(u, selection, attempt);
    if (r != kCommandDone) return r;
    // program_cmd prints nothing when any other command succeeds.
    if (record[1] == kTransferLetter) progress.forget();
    if (record[1] == kQuitLetter) return kOk;
  }
}
