#include "package/package_writer.h"

#include <algorithm>
#include <cstring>

#include "base/hex.h"
#include "package/package_trailer.h"

namespace {

bool fail(std::string* error, std::string text) {
  *error = std::move(text);
  return false;
}

// Encodes the payload from line[3] on: hex pairs up to the closing '$', which
// must end the line.
bool encode_payload(std::string_view line, std::vector<uint8_t>* bytes, std::string* error) {
  size_t i = 3;
  for (; i < line.size() && line[i] != '$'; i += 2) {
    int byte = i + 1 < line.size() ? hex_pair(line[i], line[i + 1]) : -1;
    if (byte < 0) return fail(error, "command line \"" + std::string(line) + "\": payload is not pairs of hex digits");
    bytes->push_back(static_cast<uint8_t>(byte));
  }
  if (i >= line.size()) return fail(error, "command line \"" + std::string(line) + "\" has no closing '$'");
  if (i + 1 != line.size()) return fail(error, "command line \"" + std::string(line) + "\" goes on after its '$'");
  bytes->push_back('$');
  return true;
}

bool put_text(uint8_t* field, int width, const std::string& text, const char* name, std::string* error) {
  if (text.size() > static_cast<size_t>(width) - 1) {
    return fail(error, std::string(name) + " \"" + text + "\" is longer than " + std::to_string(width - 1) +
                           " characters");
  }
  memcpy(field, text.data(), text.size());
  return true;
}

uint8_t default_flags(const SectionPlan& s) {
  switch (s.type) {
    case SectionType::kCommand: return kCommandSectionFlags;
    case SectionType::kBinary: return static_cast<uint8_t>(kBinarySectionBit | s.mode);
    case SectionType::kFramed:
    case SectionType::kRaw: break;
  }
  return static_cast<uint8_t>(s.mode);
}

bool section_data(const SectionPlan& s, std::vector<uint8_t>* data, std::string* error) {
  switch (s.type) {
    case SectionType::kCommand:
      data->assign(s.text.begin(), s.text.end());
      return true;
    case SectionType::kBinary: {
      data->assign(kBinHeaderSize, 0);
      put_le32(data->data() + kBinStartOffset, static_cast<uint32_t>(s.bin.start_address));
      put_le32(data->data() + kBinEndOffset, static_cast<uint32_t>(s.bin.end_address));
      put_le32(data->data() + kBinChunkOffset, static_cast<uint32_t>(s.bin.chunk_size));
      put_le32(data->data() + kBinStepOffset, static_cast<uint32_t>(s.bin.erase_step));
      data->insert(data->end(), s.image.begin(), s.image.end());
      return true;
    }
    case SectionType::kFramed:
      return encode_framed_records(s.records, data, error);
    case SectionType::kRaw:
      *data = s.data;
      return true;
  }
  return true;
}

bool put_record(const SectionPlan& s, uint32_t data_size, uint8_t* rec, std::string* error) {
  if (s.mode < 0 || s.mode > kModeMask) return fail(error, "mode " + std::to_string(s.mode) + " is outside 0 .. 127");
  if (!put_text(rec + kRecBootVersionOffset, kRecBootVersionSize, s.boot_version, "boot_version", error) ||
      !put_text(rec + kRecKindOffset, kRecKindSize, s.kind, "kind", error) ||
      !put_text(rec + kRecJumpOffset, kRecJumpSize, s.jump_command, "jump_command", error) ||
      !put_text(rec + kRecHeaderOffset, kRecHeaderSize, s.command_header, "command_header", error)) {
    return false;
  }
  rec[kRecFlagsOffset] = s.flags.value_or(default_flags(s));
  rec[kRecBinaryOffset] = static_cast<uint8_t>(s.binary_flag);
  put_le32(rec + kRecLengthOffset, s.length.value_or(data_size));
  return true;
}

bool put_header(const PackagePlan& plan, std::vector<uint8_t>* out, std::string* error) {
  out->assign(kPtHeaderSize, 0);
  uint8_t* h = out->data();
  put_le32(h + kMagicOffset, plan.magic);
  put_le32(h + kBArgumentOffset, plan.b_argument);
  if (plan.run_order.size() > static_cast<size_t>(kRunOrderSize)) {
    return fail(error, "run order has more than 32 entries");
  }
  memset(h + kRunOrderOffset, kRunOrderEnd, kRunOrderSize);
  std::copy(plan.run_order.begin(), plan.run_order.end(), h + kRunOrderOffset);
  if (plan.device_code.size() > static_cast<size_t>(kDeviceCodeSize)) {
    return fail(error, "device_code \"" + plan.device_code + "\" is longer than 8 characters");
  }
  std::copy(plan.device_code.begin(), plan.device_code.end(), h + kDeviceCodeOffset);
  return true;
}

SectionPlan typed_plan(SectionType type, int mode) {
  SectionPlan s;
  s.type = type;
  s.mode = mode;
  return s;
}

}  // namespace

SectionPlan command_section(std::string kind, std::string text) {
  SectionPlan s = typed_plan(SectionType::kCommand, 0);
  s.kind = std::move(kind);
  s.text = std::move(text);
  return s;
}

SectionPlan binary_section(BinHeader bin, std::vector<uint8_t> image, int mode) {
  SectionPlan s = typed_plan(SectionType::kBinary, mode);
  s.bin = bin;
  s.image = std::move(image);
  return s;
}

SectionPlan framed_section(std::vector<FramedRecordPlan> records, int mode) {
  SectionPlan s = typed_plan(SectionType::kFramed, mode);
  s.records = std::move(records);
  return s;
}

SectionPlan raw_section(std::vector<uint8_t> data, uint8_t flags) {
  SectionPlan s = typed_plan(SectionType::kRaw, 0);
  s.flags = flags;
  s.data = std::move(data);
  return s;
}

FramedRecordPlan record_line(std::string line, bool trailing_nul) {
  FramedRecordPlan r;
  r.line = std::move(line);
  r.trailing_nul = trailing_nul;
  return r;
}

FramedRecordPlan record_raw(std::vector<uint8_t> bytes, std::optional<uint16_t> length) {
  FramedRecordPlan r;
  r.use_raw = true;
  r.raw = std::move(bytes);
  r.length = length;
  return r;
}

bool encode_framed_line(std::string_view line, std::vector<uint8_t>* out, std::string* error) {
  if (line.size() < 3) return fail(error, "command line \"" + std::string(line) + "\" is shorter than 3 characters");
  std::vector<uint8_t> bytes(line.begin(), line.begin() + 3);
  if (line[2] == '$') {
    if (line.size() != 3) return fail(error, "command line \"" + std::string(line) + "\" goes on after its '$'");
  } else if (line[2] != '#' && line[2] != '@') {
    return fail(error, "command line \"" + std::string(line) + "\": third character is none of '$', '#', '@'");
  } else if (!encode_payload(line, &bytes, error)) {
    return false;
  }
  out->insert(out->end(), bytes.begin(), bytes.end());
  return true;
}

bool encode_framed_records(const std::vector<FramedRecordPlan>& records, std::vector<uint8_t>* out,
                           std::string* error) {
  for (size_t i = 0; i < records.size(); ++i) {
    const FramedRecordPlan& rec = records[i];
    std::vector<uint8_t> bytes;
    if (rec.use_raw) {
      bytes = rec.raw;
    } else if (!encode_framed_line(rec.line, &bytes, error)) {
      *error = "record " + std::to_string(i) + ": " + *error;
      return false;
    }
    if (rec.trailing_nul) bytes.push_back(0);
    if (bytes.size() > 0xFFFF) return fail(error, "record " + std::to_string(i) + " is longer than 65535 bytes");
    uint8_t length[kFramedLengthSize];
    put_le16(length, rec.length.value_or(static_cast<uint16_t>(bytes.size())));
    out->insert(out->end(), length, length + kFramedLengthSize);
    out->insert(out->end(), bytes.begin(), bytes.end());
  }
  return true;
}

bool build_package(const PackagePlan& plan, std::vector<uint8_t>* out, std::string* error) {
  std::vector<uint8_t> file;
  if (!put_header(plan, &file, error)) return false;
  for (int r = 0; r < kSectionCount; ++r) {
    if (!plan.sections[r]) continue;
    std::vector<uint8_t> data;
    uint8_t* rec = file.data() + pt_record_offset(r, 0);
    if (!section_data(*plan.sections[r], &data, error) ||
        !put_record(*plan.sections[r], static_cast<uint32_t>(data.size()), rec, error)) {
      *error = "section " + std::to_string(r) + ": " + *error;
      return false;
    }
    file.insert(file.end(), data.begin(), data.end());
  }
  file.insert(file.end(), plan.trailer.begin(), plan.trailer.end());
  for (const BytePatch& p : plan.patches) {
    if (p.offset > file.size() || p.bytes.size() > file.size() - p.offset) {
      return fail(error, "patch at offset " + std::to_string(p.offset) + " runs past the end of the file");
    }
    std::copy(p.bytes.begin(), p.bytes.end(), file.begin() + static_cast<std::ptrdiff_t>(p.offset));
  }
  *out = std::move(file);
  return true;
}

bool build_package_file(const PackagePlan& plan, std::vector<uint8_t>* out, std::string* error) {
  if (!build_package(plan, out, error)) return false;
  // Last, over every byte of the package (patches included): the updater
  // refuses a copy damaged on its way to the station before it opens the
  // instrument.
  if (plan.integrity_trailer) append_package_trailer(out);
  return true;
}
