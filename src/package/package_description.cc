#include "package/package_description.h"

#include <cstdint>

#include "base/hex.h"
#include "base/text.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A decimal or 0x-hexadecimal number with an optional '-', within min .. max.
bool parse_number(std::string_view s, int64_t min, int64_t max, int64_t* value) {
  bool negative = !s.empty() && s.front() == '-';
  if (negative) s.remove_prefix(1);
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  }
  if (s.empty() || s.size() > 12) return false;
  int64_t v = 0;
  for (char c : s) {
    int d = get_value(c);
    if (d < 0 || d >= base) return false;
    v = v * base + d;
  }
  if (negative) v = -v;
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

// Bytes as pairs of hex digits; blanks and commas between bytes are skipped.
bool parse_hex_bytes(std::string_view s, std::vector<uint8_t>* out) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < s.size();) {
    if (is_blank(s[i]) || s[i] == ',') {
      ++i;
      continue;
    }
    int byte = i + 1 < s.size() ? hex_pair(s[i], s[i + 1]) : -1;
    if (byte < 0) return false;
    bytes.push_back(static_cast<uint8_t>(byte));
    i += 2;
  }
  *out = std::move(bytes);
  return true;
}

class DescriptionParser {
 public:
  DescriptionParser(const DescriptionFileLoader& load, PackagePlan* plan, std::string* error)
      : load_(load), plan_(plan), error_(error) {}

  bool parse(std::string_view text);

 private:
  bool line(std::string_view line);
  bool block(std::string_view name);
  bool package_key(std::string_view key, std::string_view value);
  bool section_key(std::string_view key, std::string_view value);
  bool record_key(std::string_view key, std::string_view value, SectionPlan& s);
  bool type_key(std::string_view key, std::string_view value, SectionPlan& s);
  bool bytes_from(std::string_view key, std::string_view value, std::string_view hex_key,
                  std::string_view file_key, std::vector<uint8_t>* out, bool* matched);

  bool number(std::string_view value, int64_t min, int64_t max, int64_t* out);
  bool text(std::string_view value, std::string* out);
  bool fail(const std::string& what) {
    *error_ = "line " + std::to_string(line_no_) + ": " + what;
    return false;
  }

  enum class Block { kNone, kPackage, kSection };
  const DescriptionFileLoader& load_;
  PackagePlan* plan_;
  std::string* error_;
  int line_no_ = 0;
  Block block_ = Block::kNone;
  int section_ = -1;
  bool typed_ = false;
};

bool DescriptionParser::parse(std::string_view text) {
  while (!text.empty()) {
    ++line_no_;
    if (!line(trim(next_line(&text)))) return false;
  }
  if (block_ == Block::kSection && !typed_) return fail("section " + std::to_string(section_) + " has no type");
  return true;
}

bool DescriptionParser::line(std::string_view s) {
  if (s.empty() || s.front() == '#' || s.front() == ';') return true;
  if (s.front() == '[') {
    if (s.back() != ']') return fail("a block name must end with ']'");
    return block(trim(s.substr(1, s.size() - 2)));
  }
  std::string_view key, value;
  if (!split_key_value(s, &key, &value)) return fail("expected KEY = VALUE");
  switch (block_) {
    case Block::kPackage: return package_key(key, value);
    case Block::kSection: return section_key(key, value);
    case Block::kNone: break;
  }
  return fail("key \"" + std::string(key) + "\" before any [package] or [section N]");
}

bool DescriptionParser::block(std::string_view name) {
  if (block_ == Block::kSection && !typed_) return fail("section " + std::to_string(section_) + " has no type");
  if (name == "package") {
    block_ = Block::kPackage;
    return true;
  }
  int64_t r = 0;
  if (name.substr(0, 8) != "section " || !parse_number(trim(name.substr(8)), 0, kSectionCount - 1, &r)) {
    return fail("unknown block [" + std::string(name) + "]; expected [package] or [section 0] .. [section 19]");
  }
  if (plan_->sections[r]) return fail("section " + std::to_string(r) + " is described twice");
  plan_->sections[r].emplace();
  block_ = Block::kSection;
  section_ = static_cast<int>(r);
  typed_ = false;
  return true;
}

bool DescriptionParser::number(std::string_view value, int64_t min, int64_t max, int64_t* out) {
  if (parse_number(value, min, max, out)) return true;
  return fail(in_quotes(value) + " is not a number in " + std::to_string(min) + " .. " +
              std::to_string(max));
}

bool DescriptionParser::text(std::string_view value, std::string* out) {
  std::string why;
  if (unescape(value, out, &why)) return true;
  return fail("bad escape in \"" + std::string(value) + "\"; use \\\\ \\n \\r \\t or \\xHH");
}

// Fills out from VALUE as hex (hex_key) or from the file VALUE names
// (file_key); matched says whether key was one of the two.
bool DescriptionParser::bytes_from(std::string_view key, std::string_view value, std::string_view hex_key,
                                   std::string_view file_key, std::vector<uint8_t>* out, bool* matched) {
  *matched = key == hex_key || key == file_key;
  if (key == hex_key && !parse_hex_bytes(value, out)) return fail(in_quotes(value) + " is not hex bytes");
  if (key == file_key && !load_(std::string(value), out)) return fail("cannot read \"" + std::string(value) + "\"");
  return true;
}

bool DescriptionParser::package_key(std::string_view key, std::string_view value) {
  int64_t v = 0;
  if (key == "magic" || key == "b_argument") {
    if (!number(value, 0, UINT32_MAX, &v)) return false;
    (key == "magic" ? plan_->magic : plan_->b_argument) = static_cast<uint32_t>(v);
    return true;
  }
  if (key == "device_code") return text(value, &plan_->device_code);
  if (key == "run_order") {
    std::vector<uint8_t> order;
    for (std::string_view rest = value; !rest.empty();) {
      size_t end = rest.find_first_of(" \t,");
      std::string_view token = rest.substr(0, end);
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
      if (token.empty()) continue;
      if (!number(token, 0, 0xFF, &v)) return false;
      order.push_back(static_cast<uint8_t>(v));
    }
    plan_->run_order = std::move(order);
    return true;
  }
  if (key == "integrity_trailer") {
    if (value != "yes" && value != "no") return fail("integrity_trailer must be yes or no");
    plan_->integrity_trailer = value == "yes";
    return true;
  }
  if (key == "trailer") {
    if (parse_hex_bytes(value, &plan_->trailer)) return true;
    return fail(in_quotes(value) + " is not hex bytes");
  }
  if (key == "patch") {
    size_t colon = value.find(':');
    BytePatch p{};
    if (colon == std::string_view::npos || !number(trim(value.substr(0, colon)), 0, UINT32_MAX, &v)) {
      return fail("patch must be OFFSET: HEX BYTES");
    }
    p.offset = static_cast<uint32_t>(v);
    if (!parse_hex_bytes(value.substr(colon + 1), &p.bytes)) return fail("patch bytes are not hex");
    plan_->patches.push_back(std::move(p));
    return true;
  }
  return fail("unknown key \"" + std::string(key) + "\" in [package]");
}

bool DescriptionParser::section_key(std::string_view key, std::string_view value) {
  SectionPlan& s = *plan_->sections[section_];
  if (!typed_) {
    if (key != "type") return fail("the first key of a section must be type");
    if (value == "command") s.type = SectionType::kCommand;
    else if (value == "binary") s.type = SectionType::kBinary;
    else if (value == "framed") s.type = SectionType::kFramed;
    else if (value == "raw") s.type = SectionType::kRaw;
    else return fail("type must be command, binary, framed or raw");
    typed_ = true;
    return true;
  }
  return record_key(key, value, s);
}

// Keys of the section record, which every type has.
bool DescriptionParser::record_key(std::string_view key, std::string_view value, SectionPlan& s) {
  int64_t v = 0;
  if (key == "boot_version") return text(value, &s.boot_version);
  if (key == "kind" || key == "hardware") return text(value, &s.kind);
  if (key == "jump_command") return text(value, &s.jump_command);
  if (key == "command_header") return text(value, &s.command_header);
  if (key == "mode") {
    if (!number(value, 0, kModeMask, &v)) return false;
    s.mode = static_cast<int>(v);
    return true;
  }
  if (key == "flags") {
    if (!number(value, 0, 0xFF, &v)) return false;
    s.flags = static_cast<uint8_t>(v);
    return true;
  }
  if (key == "binary_flag") {
    if (!number(value, INT8_MIN, INT8_MAX, &v)) return false;
    s.binary_flag = static_cast<int8_t>(v);
    return true;
  }
  if (key == "length") {
    if (!number(value, 0, UINT32_MAX, &v)) return false;
    s.length = static_cast<uint32_t>(v);
    return true;
  }
  return type_key(key, value, s);
}

// Keys of the section's data, which depend on its type.
bool DescriptionParser::type_key(std::string_view key, std::string_view value, SectionPlan& s) {
  int64_t v = 0;
  bool matched = false;
  std::string unknown = "key \"" + std::string(key) + "\" does not belong in a section of this type";
  switch (s.type) {
    case SectionType::kCommand: {
      if (key == "text") return text(value, &s.text);
      if (key != "text_hex") return fail(unknown);
      std::vector<uint8_t> bytes;
      if (!parse_hex_bytes(value, &bytes)) return fail(in_quotes(value) + " is not hex bytes");
      s.text.assign(bytes.begin(), bytes.end());
      return true;
    }
    case SectionType::kBinary: {
      int32_t* field = key == "start" ? &s.bin.start_address
                       : key == "end" ? &s.bin.end_address
                       : key == "chunk" ? &s.bin.chunk_size
                       : key == "erase_step" ? &s.bin.erase_step
                                             : nullptr;
      if (field != nullptr) {
        // Either a signed value or the 32 bits of an unsigned one.
        if (!number(value, INT32_MIN, UINT32_MAX, &v)) return false;
        *field = static_cast<int32_t>(static_cast<uint32_t>(v));
        return true;
      }
      if (!bytes_from(key, value, "image_hex", "image_file", &s.image, &matched)) return false;
      return matched || fail(unknown);
    }
    case SectionType::kFramed:
      if (key == "record" || key == "record_nul") {
        s.records.push_back(record_line(std::string(value), key == "record_nul"));
        return true;
      }
      if (key == "record_raw") {
        FramedRecordPlan rec{};
        rec.use_raw = true;
        if (!parse_hex_bytes(value, &rec.raw)) return fail(in_quotes(value) + " is not hex bytes");
        s.records.push_back(std::move(rec));
        return true;
      }
      if (key == "record_length") {
        if (s.records.empty()) return fail("record_length must follow the record it changes");
        if (!number(value, 0, 0xFFFF, &v)) return false;
        s.records.back().length = static_cast<uint16_t>(v);
        return true;
      }
      return fail(unknown);
    case SectionType::kRaw:
      if (!bytes_from(key, value, "data_hex", "data_file", &s.data, &matched)) return false;
      return matched || fail(unknown);
  }
  return fail(unknown);
}

}  // namespace

bool parse_package_description(std::string_view text, const DescriptionFileLoader& load, PackagePlan* plan,
                               std::string* error) {
  PackagePlan parsed;
  DescriptionParser parser(load, &parsed, error);
  if (!parser.parse(text)) return false;
  *plan = std::move(parsed);
  return true;
}
