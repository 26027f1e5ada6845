#include "package/package_info.h"

#include <algorithm>
#include <cstdio>

#include "base/finding.h"
#include "base/text.h"
#include "package/package_check.h"
#include "package/package_format.h"
#include "package/package_trailer.h"

namespace {

std::string ordinal(int n) {
  const char* suffix = (n % 100 >= 11 && n % 100 <= 13) ? "th"
                       : n % 10 == 1                    ? "st"
                       : n % 10 == 2                    ? "nd"
                       : n % 10 == 3                    ? "rd"
                                                        : "th";
  return std::to_string(n) + suffix;
}

class InfoWriter {
 public:
  void field(const char* name, const std::string& value) {
    char head[24];
    snprintf(head, sizeof head, "  %-14s", name);
    text += head + value + "\n";
  }
  void line(const std::string& value) { text += value + "\n"; }

  void header(const PtHeader& h) {
    char magic[16];
    snprintf(magic, sizeof magic, "%02X %02X %02X %02X", h[0], h[1], h[2], h[3]);
    field("magic", std::string(magic) + (pt_magic(h) == kPtMagic ? "" : " (not a package's D0 47 9B 1B)"));
    char code[kDeviceCodeSize + 1];
    pt_device_code(h, code);
    field("device code", display_quoted(code) + ": matched with entry -1 of syst:info?");
    char b_command[24];
    snprintf(b_command, sizeof b_command, kBCommandFormat, pt_b_argument(h));
    field("b argument", hex_text(pt_b_argument(h), 4) + ": binary sections send " + b_command);
    std::string order;
    for (int k = 0; k < kRunOrderSize && pt_run_order_entry(h, k) != kRunOrderEnd; ++k) {
      order += (order.empty() ? "" : ", ") + std::to_string(pt_run_order_entry(h, k));
    }
    field("run order", order.empty() ? "none: no section runs" : order);
  }

  void trailer(const TrailerCheck& t) {
    char crc[64];
    switch (t.state) {
      case TrailerState::kValid:
        snprintf(crc, sizeof crc, "trailer holds: CRC-32 0x%08X over %u bytes", t.trailer.crc, t.trailer.covered_length);
        return field("integrity", crc);
      case TrailerState::kAbsent: return field("integrity", "no trailer: the run cannot verify it (--strict refuses it)");
      case TrailerState::kBadLength:
        return field("integrity", "trailer damaged: it covers " + std::to_string(t.trailer.covered_length) +
                                      " bytes, the file has " + std::to_string(t.file_size - kTrailerSize) +
                                      " before it");
      case TrailerState::kBadCrc:
        snprintf(crc, sizeof crc, "CRC-32 0x%08X stored, 0x%08X computed", t.trailer.crc, t.computed_crc);
        return field("integrity", std::string("trailer damaged: ") + crc);
      case TrailerState::kReadError: break;
    }
    field("integrity", trailer_state_text(t.state));
  }

  // index: the record's, which the instrument's syst:info? entry of the
  // same index is matched with.
  void record_fields(const SectionRecord& r, SectionKind kind, int index) {
    if (kind == SectionKind::kCommand) return;
    field("flags", hex_text(r.flags, 2) + ", binary flag " + std::to_string(r.binary));
    field("versions", "bootloader " + display_quoted(r.boot_version) + ", hardware " + display_quoted(r.kind) +
                          ": matched with entry " + std::to_string(index) + " of syst:info?");
    field("jump command", display_quoted(r.jump_command));
    field("header", r.command_header[0] == '\0' ? "none" : display_quoted(r.command_header));
  }

  void section(const SectionSummary& s) {
    const SectionRecord& r = s.record;
    std::string head = "section " + std::to_string(s.index) + ", runs " + ordinal(s.entry + 1) + ": ";
    line(head + kind_words(r));
    record_fields(r, s.kind, s.index);
    field("data", std::to_string(r.length) + " bytes at byte " + std::to_string(s.offset));
    if (!s.complete) {
      field("contents", "not read further: see the fault below");
      return;
    }
    if (s.kind == SectionKind::kCommand) {
      field("text", display_quoted(s.text));
      return;
    }
    if (s.kind == SectionKind::kBinary) {
      field("addresses", hex_text(s.bin.start_address, 8) + " .. " + hex_text(s.bin.end_address, 8) + ", erase step " +
                             hex_text(s.bin.erase_step, 4));
      field("chunk size", std::to_string(s.bin.chunk_size) + " bytes a data command");
    } else {
      field("records", std::to_string(s.records) + ", up to the 'q' record");
    }
    field("erases", std::to_string(s.erases) +
                        (s.erases > 0 ? ", " + hex_text(s.first_erase, 8) + " .. " + hex_text(s.last_erase, 8) : ""));
    for (const WriteRange& w : s.writes) field("writes", std::to_string(w.bytes) + " bytes at " + hex_text(w.start, 8));
  }

  // A record that holds something but does not run: the run order does not
  // name it, or it names it with length 0.
  void idle(const PtHeader& h, int r, int64_t offset, bool named) {
    SectionRecord rec = pt_record(h, r);
    const char* why = !named ? ", not in the run order: "
                      : rec.length == 0 ? ", never runs (length 0): "
                                        : ", not reached (the run order is refused before it): ";
    line("section " + std::to_string(r) + why + kind_words(rec));
    record_fields(rec, section_kind(rec.flags), r);
    field("data", std::to_string(rec.length) + " bytes at byte " + std::to_string(offset));
  }

  std::string text;

 private:
  static std::string kind_words(const SectionRecord& r) {
    switch (section_kind(r.flags)) {
      case SectionKind::kCommand:
        return "command section " + display_quoted(r.kind) +
               (starts_with(r.kind, "mcmd")   ? " (written to the instrument)"
                : starts_with(r.kind, "scmd") ? " (run in the shell)"
                                              : "");
      case SectionKind::kBinary:
        return "binary section, entry mode " + std::to_string(section_mode(r.flags)) +
               (r.binary != 0 ? ", binary frames" : ", text frames");
      case SectionKind::kFramed: break;
    }
    return "framed section, entry mode " + std::to_string(section_mode(r.flags)) +
           (r.binary != 0 ? ", binary frames" : ", text frames");
  }
};

bool record_is_empty(const PtHeader& h, int r) {
  const uint8_t* rec = h + pt_record_offset(r, 0);
  return std::all_of(rec, rec + kRecordSize, [](uint8_t b) { return b == 0; });
}

bool in_run_order(const PtHeader& h, int r) {
  for (int k = 0; k < kRunOrderSize && pt_run_order_entry(h, k) != kRunOrderEnd; ++k) {
    if (pt_run_order_entry(h, k) == r) return true;
  }
  return false;
}

}  // namespace

PackageInfo describe_package(const std::vector<uint8_t>& package, const std::string& name) {
  PackageInfo info;
  InfoWriter out;
  PtHeader h = {};
  std::copy_n(package.begin(), std::min<size_t>(package.size(), kPtHeaderSize), h);
  MemoryPackageSource source(package.data(), package.size());
  PackageReport report = check_package(h, source);

  out.line("package " + display_quoted(name) + ": " + std::to_string(package.size()) + " bytes");
  if (package.size() >= static_cast<size_t>(kPtHeaderSize)) {
    out.header(h);
    out.trailer(report.trailer);
    for (const SectionSummary& s : report.sections) out.section(s);
    int64_t offsets[kSectionCount];
    pt_data_offsets(h, offsets);
    for (int r = 0; r < kSectionCount; ++r) {
      bool walked = std::any_of(report.sections.begin(), report.sections.end(),
                                [r](const SectionSummary& s) { return s.index == r; });
      if (!walked && !record_is_empty(h, r)) out.idle(h, r, offsets[r], in_run_order(h, r));
    }
  }
  info.faults = static_cast<int>(report.faults.size());
  if (report.faults.empty()) out.line("faults: none; the updater would run this package");
  else out.line("faults: " + std::to_string(report.faults.size()) + "; the updater would refuse this package:");
  for (const PackageCheck& fault : report.faults) {
    Finding f = package_finding(fault);
    out.line(finding_place(name, f) + ": fault [" + finding_messages(f) + "]: " + f.text);
  }
  info.text = out.text;
  return info;
}
