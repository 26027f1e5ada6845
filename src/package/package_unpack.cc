#include "package/package_unpack.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "base/text.h"
#include "package/package_description.h"
#include "package/package_format.h"
#include "package/package_trailer.h"
#include "package/package_writer.h"
#include "platform/native_path.h"

namespace {

// Patches closer than this are joined into one line.
constexpr size_t kPatchGap = 4;
// Raw section data up to this size stays in the description as hex.
constexpr size_t kInlineRawBytes = 64;

std::string hex_bytes(const uint8_t* bytes, size_t n) {
  std::string out;
  char pair[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(pair, sizeof pair, i == 0 ? "%02X" : " %02X", bytes[i]);
    out += pair;
  }
  return out;
}

std::string hex_number(uint32_t value, int digits) {
  char text[16];
  snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

// A text as a description value: the parser's escapes, and \x20 for a blank
// at either end, which the parser would trim.
std::string value_text(std::string_view text) {
  std::string out = escaped(text, false);
  if (!out.empty() && out.front() == ' ') out.replace(0, 1, "\\x20");
  if (!out.empty() && out.back() == ' ') out.replace(out.size() - 1, 1, "\\x20");
  return out;
}

// A field's text up to its NUL, at most width - 1 bytes (the writer's limit;
// the last byte of a field without its NUL is left to a patch).
std::string field_text(const uint8_t* field, int width) {
  size_t n = strnlen(reinterpret_cast<const char*>(field), static_cast<size_t>(width) - 1);
  return std::string(reinterpret_cast<const char*>(field), n);
}

// A framed record's bytes as the command line the writer encodes back to
// exactly them; "" when there is none (the record is then written raw).
std::string record_line_of(const std::vector<uint8_t>& rec) {
  if (rec.size() < 3) return "";
  for (size_t i = 0; i < 3; ++i) {
    if (rec[i] <= ' ' || rec[i] >= 0x7F) return "";
  }
  std::string line(rec.begin(), rec.begin() + 3);
  if (rec[2] != '$') {
    if (rec.back() != '$') return "";
    for (size_t i = 3; i + 1 < rec.size(); ++i) line += hex_bytes(&rec[i], 1);
    line += '$';
  }
  std::vector<uint8_t> back;
  std::string error;
  return encode_framed_line(line, &back, &error) && back == rec ? line : "";
}

FramedRecordPlan record_of(const std::vector<uint8_t>& rec) {
  std::string line = record_line_of(rec);
  if (!line.empty()) return record_line(line);
  if (!rec.empty() && rec.back() == 0) {
    line = record_line_of(std::vector<uint8_t>(rec.begin(), rec.end() - 1));
    if (!line.empty()) return record_line(line, true);
  }
  return record_raw(rec);
}

// The records that make up data exactly; false when its end cuts a
// record's length in two, which no record can say.
bool framed_records_of(const std::vector<uint8_t>& data, std::vector<FramedRecordPlan>* records) {
  for (size_t at = 0; at < data.size();) {
    if (at + kFramedLengthSize > data.size()) return false;
    uint16_t length = get_le16(&data[at]);
    at += kFramedLengthSize;
    size_t n = std::min<size_t>(length, data.size() - at);
    std::vector<uint8_t> rec(data.begin() + static_cast<std::ptrdiff_t>(at),
                             data.begin() + static_cast<std::ptrdiff_t>(at + n));
    FramedRecordPlan plan = n == length ? record_of(rec) : record_raw(rec, length);
    records->push_back(std::move(plan));
    at += n;
  }
  return true;
}

// The section of record r whose data in the file is data.
SectionPlan section_of(const PtHeader& h, int r, std::vector<uint8_t> data) {
  const uint8_t* rec = h + pt_record_offset(r, 0);
  SectionPlan s;
  const uint8_t flags = rec[kRecFlagsOffset];
  s.mode = section_mode(flags);
  std::vector<FramedRecordPlan> records;
  if (flags == kCommandSectionFlags) {
    s.type = SectionType::kCommand;
    s.text.assign(data.begin(), data.end());
  } else if ((flags & kBinarySectionBit) != 0 && data.size() >= static_cast<size_t>(kBinHeaderSize)) {
    s.type = SectionType::kBinary;
    s.bin = decode_bin_header(data.data());
    s.image.assign(data.begin() + kBinHeaderSize, data.end());
  } else if ((flags & kBinarySectionBit) == 0 && framed_records_of(data, &records)) {
    s.type = SectionType::kFramed;
    s.records = std::move(records);
  } else {
    s.type = SectionType::kRaw;
    s.flags = flags;
    s.data = std::move(data);
  }
  s.boot_version = field_text(rec + kRecBootVersionOffset, kRecBootVersionSize);
  s.kind = field_text(rec + kRecKindOffset, kRecKindSize);
  s.binary_flag = static_cast<int8_t>(rec[kRecBinaryOffset]);
  s.jump_command = field_text(rec + kRecJumpOffset, kRecJumpSize);
  s.command_header = field_text(rec + kRecHeaderOffset, kRecHeaderSize);
  return s;
}

bool all_zero(const uint8_t* bytes, size_t n) {
  return std::all_of(bytes, bytes + n, [](uint8_t b) { return b == 0; });
}

// The plan of the package, without patches: every record that is not all
// zero, its data as far as the file holds it, the bytes after the last.
PackagePlan plan_of(const std::vector<uint8_t>& package) {
  PtHeader h;
  std::copy_n(package.begin(), kPtHeaderSize, h);
  PackagePlan plan;
  plan.magic = pt_magic(h);
  plan.b_argument = pt_b_argument(h);
  plan.device_code = std::string(reinterpret_cast<const char*>(h + kDeviceCodeOffset),
                                 strnlen(reinterpret_cast<const char*>(h + kDeviceCodeOffset), kDeviceCodeSize));
  int order = kRunOrderSize;
  while (order > 0 && pt_run_order_entry(h, order - 1) == kRunOrderEnd) --order;
  plan.run_order.assign(h + kRunOrderOffset, h + kRunOrderOffset + order);

  const int64_t size = static_cast<int64_t>(package.size());
  int64_t at = kPtHeaderSize;
  for (int r = 0; r < kSectionCount; ++r) {
    const int64_t length = pt_section_length(h, r);
    const int64_t held = std::clamp<int64_t>(size - at, 0, length);
    std::vector<uint8_t> data(package.begin() + std::min(at, size), package.begin() + std::min(at, size) + held);
    at += length;
    if (all_zero(h + pt_record_offset(r, 0), kRecordSize) && data.empty()) continue;
    SectionPlan s = section_of(h, r, std::move(data));
    const size_t written = s.type == SectionType::kBinary ? kBinHeaderSize + s.image.size() : held;
    if (written != static_cast<size_t>(length)) s.length = static_cast<uint32_t>(length);
    plan.sections[r] = std::move(s);
  }
  if (at < size) plan.trailer.assign(package.begin() + at, package.end());
  return plan;
}

// Patches that turn built into package (both of one size).
std::vector<BytePatch> patches_between(const std::vector<uint8_t>& built, const std::vector<uint8_t>& package) {
  std::vector<BytePatch> patches;
  for (size_t i = 0; i < package.size(); ++i) {
    if (built[i] == package[i]) continue;
    size_t end = i + 1;
    for (size_t same = 0; end < package.size() && same < kPatchGap; ++end) {
      same = built[end] == package[end] ? same + 1 : 0;
    }
    while (built[end - 1] == package[end - 1]) --end;
    patches.push_back(
        {static_cast<uint32_t>(i), std::vector<uint8_t>(package.begin() + static_cast<std::ptrdiff_t>(i),
                                                        package.begin() + static_cast<std::ptrdiff_t>(end))});
    i = end - 1;
  }
  return patches;
}

const char* type_name(SectionType type) {
  switch (type) {
    case SectionType::kCommand:
      return "command";
    case SectionType::kBinary:
      return "binary";
    case SectionType::kFramed:
      return "framed";
    case SectionType::kRaw:
      return "raw";
  }
  return "raw";
}

// Writes the plan as a description; files named in it are added to files.
class DescriptionWriter {
 public:
  DescriptionWriter(const std::string& stem, std::vector<UnpackedFile>* files) : stem_(stem), files_(*files) {}

  std::string write(const PackagePlan& plan, const std::string& head) {
    out_ = head;
    line("[package]");
    if (plan.magic != kPtMagic) key("magic", hex_number(plan.magic, 8));
    key("b_argument", hex_number(plan.b_argument, 4));
    if (!plan.device_code.empty()) key("device_code", value_text(plan.device_code));
    if (!plan.run_order.empty()) {
      std::string order;
      for (uint8_t r : plan.run_order) order += (order.empty() ? "" : ", ") + std::to_string(r);
      key("run_order", order);
    }
    if (!plan.trailer.empty()) key("trailer", hex_bytes(plan.trailer.data(), plan.trailer.size()));
    if (!plan.integrity_trailer) key("integrity_trailer", "no");
    for (const BytePatch& p : plan.patches)
      key("patch", std::to_string(p.offset) + ": " + hex_bytes(p.bytes.data(), p.bytes.size()));
    for (int r = 0; r < kSectionCount; ++r) {
      if (plan.sections[r]) section(r, *plan.sections[r]);
    }
    return out_;
  }

 private:
  void line(const std::string& text) { out_ += text + "\n"; }
  void key(const char* name, const std::string& value) { line(std::string(name) + " = " + value); }
  void text_key(const char* name, const std::string& value) {
    if (!value.empty()) key(name, value_text(value));
  }

  std::string file(int r, const char* suffix, const std::vector<uint8_t>& bytes) {
    std::string name = stem_ + ".section" + std::to_string(r) + suffix;
    files_.push_back({name, bytes});
    return name;
  }

  void section(int r, const SectionPlan& s) {
    line("");
    line("[section " + std::to_string(r) + "]");
    key("type", type_name(s.type));
    text_key("boot_version", s.boot_version);
    text_key(s.type == SectionType::kCommand ? "kind" : "hardware", s.kind);
    if (s.type == SectionType::kRaw) {
      key("flags", hex_number(*s.flags, 2));
    } else if (s.type != SectionType::kCommand) {
      key("mode", std::to_string(s.mode));
    }
    if (s.binary_flag != 0) key("binary_flag", std::to_string(s.binary_flag));
    text_key("jump_command", s.jump_command);
    text_key("command_header", s.command_header);
    if (s.length) key("length", std::to_string(*s.length));
    switch (s.type) {
      case SectionType::kCommand:
        text_key("text", s.text);
        break;
      case SectionType::kBinary:
        key("start", hex_number(static_cast<uint32_t>(s.bin.start_address), 8));
        key("end", hex_number(static_cast<uint32_t>(s.bin.end_address), 8));
        key("chunk", hex_number(static_cast<uint32_t>(s.bin.chunk_size), 2));
        key("erase_step", hex_number(static_cast<uint32_t>(s.bin.erase_step), 4));
        if (!s.image.empty()) key("image_file", file(r, ".bin", s.image));
        break;
      case SectionType::kFramed:
        for (const FramedRecordPlan& rec : s.records) record(rec);
        break;
      case SectionType::kRaw:
        if (s.data.size() > kInlineRawBytes) {
          key("data_file", file(r, ".data", s.data));
        } else if (!s.data.empty()) {
          key("data_hex", hex_bytes(s.data.data(), s.data.size()));
        }
        break;
    }
  }

  void record(const FramedRecordPlan& rec) {
    if (!rec.use_raw) {
      key(rec.trailing_nul ? "record_nul" : "record", rec.line);
      return;
    }
    key("record_raw", hex_bytes(rec.raw.data(), rec.raw.size()));
    if (rec.length) key("record_length", std::to_string(*rec.length));
  }

  std::string stem_;
  std::vector<UnpackedFile>& files_;
  std::string out_;
};

}  // namespace

bool rebuild_package(const std::string& description, const std::vector<UnpackedFile>& files,
                     std::vector<uint8_t>* bytes, std::string* error) {
  DescriptionFileLoader load = [&files](const std::string& path, std::vector<uint8_t>* out) {
    for (const UnpackedFile& f : files) {
      if (f.name == path) {
        *out = f.bytes;
        return true;
      }
    }
    return false;
  };
  PackagePlan plan;
  return parse_package_description(description, load, &plan, error) && build_package_file(plan, bytes, error);
}

namespace {

// The first comment lines on the integrity trailer: what the description
// does with it.
std::string trailer_note(const TrailerCheck& t, bool kept) {
  if (kept) return "# Its integrity trailer holds; tmpack writes it again.\n";
  switch (t.state) {
    case TrailerState::kAbsent:
      return "# It has no integrity trailer: integrity_trailer = no builds it back without one (leave that line\n"
             "# out for a package the updater can verify).\n";
    case TrailerState::kBadLength:
    case TrailerState::kBadCrc:
      return std::string("# Its integrity trailer is damaged (") + trailer_state_text(t.state) +
             "): kept as it stands in trailer = with\n# integrity_trailer = no; leave out its 16 bytes and that "
             "line, and tmpack writes a right one.\n";
    default: return "";
  }
}

}  // namespace

bool unpack_package(const std::vector<uint8_t>& package, const std::string& name, PackageUnpack* out,
                    std::string* error) {
  if (package.size() < static_cast<size_t>(kPtHeaderSize)) {
    *error = "the file is " + std::to_string(package.size()) + " bytes, shorter than a package's 1968-byte header";
    return false;
  }
  // A trailer that holds is written again by tmpack over the same bytes;
  // any other end of the file is kept as it stands.
  const TrailerCheck trailer = check_package_trailer(package.data(), package.size());
  const bool kept = trailer.state == TrailerState::kValid && trailer.data_size >= kPtHeaderSize;
  const std::vector<uint8_t> body(package.begin(), kept ? package.begin() + trailer.data_size : package.end());
  PackagePlan plan = plan_of(body);
  plan.integrity_trailer = kept;
  std::vector<uint8_t> built;
  if (!build_package(plan, &built, error)) return false;
  if (built.size() != body.size()) {
    *error = "cannot be said in a description: it would be rebuilt with " + std::to_string(built.size()) + " bytes";
    return false;
  }
  plan.patches = patches_between(built, body);

  const std::string file_name = name_of(file_path(name).filename());
  const std::string stem = name_of(file_path(name).stem());
  std::string head = "# " + in_quotes(escaped(file_name, true)) + ", unpacked by tmpack --unpack (" +
                     std::to_string(package.size()) + " bytes). Build it again with:\n#   tmpack " + stem +
                     ".desc " + file_name + "\n" + trailer_note(trailer, kept) + "\n";
  PackageUnpack result;
  result.patches = static_cast<int>(plan.patches.size());
  result.description = DescriptionWriter(stem, &result.files).write(plan, head);

  // What is handed out must build the package back.
  std::vector<uint8_t> again;
  if (!rebuild_package(result.description, result.files, &again, error)) {
    *error = "the description made does not build: " + *error;
    return false;
  }
  if (again != package) {
    *error = "the description made does not build the package back byte for byte";
    return false;
  }
  *out = std::move(result);
  return true;
}
