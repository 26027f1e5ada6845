#include "visa/sim/sim_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>

#include "base/hex.h"
#include "base/text.h"
#include "platform/native.h"

namespace sim {

namespace {

constexpr uint32_t kMaxEraseBlock = 0x1000000;  // bounds the memory one erase may touch

bool number(std::string_view v, uint32_t* out, std::string* why) {
  std::string_view digits = v;
  uint64_t base = 10;
  if (digits.starts_with("0x") || digits.starts_with("0X")) {
    digits.remove_prefix(2);
    base = 16;
  }
  if (digits.empty()) return (*why = in_quotes(v) + " is not a number", false);
  uint64_t n = 0;
  for (char c : digits) {
    int d = get_value(c);
    if (d < 0 || static_cast<uint64_t>(d) >= base) return (*why = in_quotes(v) + " is not a number", false);
    n = n * base + static_cast<uint64_t>(d);
    if (n > 0xFFFFFFFFu) return (*why = "number \"" + std::string(v) + "\" is too large", false);
  }
  *out = static_cast<uint32_t>(n);
  return true;
}

bool number_list(std::string_view v, std::vector<uint32_t>* out, std::string* why) {
  out->clear();
  while (true) {
    size_t comma = v.find(',');
    uint32_t n = 0;
    if (!number(trim(v.substr(0, comma)), &n, why)) return false;
    if (n == 0) return (*why = "call and echo numbers count from 1", false);
    out->push_back(n);
    if (comma == std::string_view::npos) return true;
    v.remove_prefix(comma + 1);
  }
}

bool flag(std::string_view v, bool* out, std::string* why) {
  if (v == "yes" || v == "true" || v == "1") return (*out = true, true);
  if (v == "no" || v == "false" || v == "0") return (*out = false, true);
  return (*why = in_quotes(v) + " is not yes or no", false);
}

struct Parser {
  SimConfig* out = nullptr;
  InstrumentConfig* inst = nullptr;
  std::set<std::string> keys_seen;  // in the current block
  bool main_given = false;
  size_t line_no = 0;
  size_t block_line = 0;  // where the current block began
  size_t error_line = 0;  // the line an error belongs to
  std::string why;

  bool global_key(std::string_view key, std::string_view v) {
    GlobalFaults& f = out->faults;
    if (key == "transcript") {
      out->transcript_path = v;  // as written: a Windows path's "\t" is no tab
      return true;
    }
    if (key == "keep_transcript") return flag(v, &out->keep_transcript, &why);
    if (key == "keep_commands") return flag(v, &out->keep_commands, &why);
    if (key == "flash_file") {
      out->flash_path = v;
      return true;
    }
    if (key == "empty_searches") return number(v, &f.empty_searches, &why);
    if (key == "fail_open") return number_list(v, &f.fail_open, &why);
    if (key == "fail_write") return number_list(v, &f.fail_write, &why);
    if (key == "fail_read") return number_list(v, &f.fail_read, &why);
    if (key == "timeout_read") return number_list(v, &f.timeout_read, &why);
    if (key == "fail_rm_open") return number_list(v, &f.fail_rm_open, &why);
    if (key == "fail_search") return number_list(v, &f.fail_search, &why);
    if (key == "fail_control_in") return number_list(v, &f.fail_control_in, &why);
    if (key == "fail_control_out") return number_list(v, &f.fail_control_out, &why);
    if (key == "fail_from") return number(v, &f.fail_from, &why);
    why = "unknown key \"" + std::string(key) + "\" before the first [instrument]";
    return false;
  }

  std::string* text_field(std::string_view key) {
    InstrumentConfig& c = *inst;
    struct Field {
      const char* key;
      std::string* value;
    };
    Field fields[] = {
        {"main", &c.main_rsrc},
        {"bootloader", &c.boot_rsrc},
        {"main_idn", &c.main_idn},
        {"boot_idn", &c.boot_idn},
        {"boot_version", &c.boot_version},
        {"main_version", &c.main_version},
        {"syst_info", &c.syst_info},
        {"main_control_in", &c.main_control_in},
        {"boot_control_in", &c.boot_control_in},
        {"jump", &c.jump_command},
        {"echo_suffix", &c.echo_suffix},
    };
    for (const Field& f : fields)
      if (key == f.key) return f.value;
    return nullptr;
  }

  bool instrument_key(std::string_view key, std::string_view v) {
    InstrumentConfig& c = *inst;
    if (std::string* text = text_field(key)) {
      if (key == "main") main_given = true;
      return unescape(v, text, &why);
    }
    if (key == "control_jump") return flag(v, &c.control_jump, &why);
    if (key == "never_back") return flag(v, &c.faults.never_back, &why);
    if (key == "flash_model") return flag(v, &c.flash_model, &why);
    if (key == "reboot_ms") return number(v, &c.reboot_ms, &why);
    if (key == "late_ms") return number(v, &c.faults.late_ms, &why);
    if (key == "wrong_echo_first") return number(v, &c.faults.wrong_echo_first, &why);
    if (key == "wrong_echo_at") return number_list(v, &c.faults.wrong_echo_at, &why);
    if (key == "start") return start(v);
    if (key == "erase_block") return erase_block(v);
    if (key == "flash_fill") return flash_fill(v);
    why = "unknown key \"" + std::string(key) + "\"";
    return false;
  }

  bool start(std::string_view v) {
    if (v == "main") return (inst->start = StartState::kMain, true);
    if (v == "bootloader") return (inst->start = StartState::kBootloader, true);
    return (why = "start is main or bootloader, not \"" + std::string(v) + "\"", false);
  }

  bool erase_block(std::string_view v) {
    if (!number(v, &inst->erase_block, &why)) return false;
    if (inst->erase_block == 0 || inst->erase_block > kMaxEraseBlock)
      return (why = "erase_block must be 1 .. 0x1000000", false);
    return true;
  }

  bool flash_fill(std::string_view v) {
    uint32_t n = 0;
    if (!number(v, &n, &why)) return false;
    if (n > 0xFF) return (why = "flash_fill must be 0 .. 255", false);
    inst->flash_fill = static_cast<uint8_t>(n);
    return true;
  }

  // The block just ended: what a block alone cannot check.
  bool end_block() {
    if (!inst) return true;
    error_line = block_line;
    if (!main_given) return (why = "instrument \"" + inst->name + "\" has no main resource string", false);
    for (const InstrumentConfig& other : out->instruments) {
      if (&other == inst) continue;
      if (other.main_rsrc == inst->main_rsrc)
        return (why = "instrument \"" + inst->name + "\" has the main resource string of \"" + other.name + "\"", false);
    }
    return true;
  }

  bool begin_block(std::string_view header) {
    if (!end_block()) return false;
    error_line = line_no;
    if (header.back() != ']') return (why = "a block header ends with \"]\"", false);
    std::string_view inside = trim(header.substr(1, header.size() - 2));
    if (!inside.starts_with("instrument") ||
        (inside.size() > 10 && inside[10] != ' ' && inside[10] != '\t'))
      return (why = "unknown block \"" + std::string(header) + "\"", false);
    std::string name(trim(inside.substr(10)));
    if (name.empty()) name = "sim" + std::to_string(out->instruments.size());
    for (const InstrumentConfig& other : out->instruments)
      if (other.name == name) return (why = "instrument name \"" + name + "\" used twice", false);
    out->instruments.emplace_back();
    inst = &out->instruments.back();
    inst->name = name;
    keys_seen.clear();
    main_given = false;
    block_line = line_no;
    return true;
  }

  bool line(std::string_view text) {
    ++line_no;
    error_line = line_no;
    std::string_view t = trim(text);
    if (t.empty() || t.front() == '#') return true;
    if (t.front() == '[') return begin_block(t);
    std::string_view key_text, value;
    if (!split_key_value(t, &key_text, &value)) {
      return (why = "a line is \"key = value\", a [block] or a # comment", false);
    }
    std::string key(key_text);
    if (key.empty()) return (why = "a key is missing before \"=\"", false);
    if (!keys_seen.insert(key).second) return (why = "key \"" + key + "\" given twice", false);
    return inst ? instrument_key(key, value) : global_key(key, value);
  }
};

}  // namespace

bool parse_sim_description(std::string_view text, std::string_view file_name, SimConfig* out,
                           std::string* error) {
  *out = SimConfig{};
  Parser p;
  p.out = out;
  bool ok = true;
  while (ok && !text.empty()) ok = p.line(next_line(&text));
  if (ok) ok = p.end_block();
  if (!ok) *error = std::string(file_name) + ":" + std::to_string(p.error_line) + ": " + p.why;
  return ok;
}

bool load_sim_description(const std::string& path, SimConfig* out, std::string* error) {
  FILE* f = open_file(path.c_str(), "rb");
  if (!f) {
    *error = path + ": cannot open the simulator description: " + strerror(errno);
    return false;
  }
  std::string text;
  char buf[4096];
  size_t n = 0;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
  fclose(f);
  return parse_sim_description(text, path, out, error);
}

}  // namespace sim
