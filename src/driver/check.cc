#include "driver/check.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/console.h"
#include "base/finding.h"
#include "base/messages.h"
#include "base/text.h"
#include "driver/list_file.h"
#include "driver/updater.h"
#include "package/package_check.h"
#include "package/package_format.h"
#include "platform/regular_file.h"
#include "script/script.h"
#include "script/script_check.h"

namespace {

// Prints the lines of one check and counts what it found.
class CheckReport {
 public:
  explicit CheckReport(Platform& os) : os_(os) {}

  void line(const std::string& text) { printf_plain(os_, "%s\n", text.c_str()); }

  void finding(const std::string& file, const Finding& f) {
    std::string place = finding_place(file, f);
    if (f.kind == Finding::kWarning) {
      ++warnings_;
      printf_color(os_, kColourYellow, "%s: warning: %s\n", place.c_str(), f.text.c_str());
    } else {
      ++faults_;
      printf_color(os_, kColourRed, "%s: fault [%s]: %s\n", place.c_str(), finding_messages(f).c_str(),
                   f.text.c_str());
    }
  }

  void findings(const std::string& file, const std::vector<Finding>& all) {
    for (const Finding& f : all) finding(file, f);
  }

  int finish() {
    line("check: faults=" + std::to_string(faults_) + " warnings=" + std::to_string(warnings_));
    return faults_ == 0 ? 0 : 1;
  }

 private:
  Platform& os_;
  int faults_ = 0;
  int warnings_ = 0;
};

// A job's file, opened as the job opens it. When it cannot be, prints the
// job's line and the fault the run would report, and returns nullptr.
FILE* open_job(CheckReport& report, const std::string& head, const std::string& path) {
  FileRefusal why;
  FILE* file = open_regular_file(path.c_str(), &why);
  if (file == nullptr) {
    report.line(head);
    report.finding(path, fault_at_line(0, msg::kCorrupted5, std::string("cannot open: ") + refusal_text(why)));
  }
  return file;
}

// The script's checksum as the job checks it before the instrument is
// opened: "ok", "bad" or "none" for the job's line, and the finding, if any.
std::string checksum_state(FILE* file, const IntegrityRules& rules, std::vector<Finding>* findings) {
  ChecksumCheck sum = check_checksum(file);
  std::string why;
  const char* message = script_integrity_fault(sum, rules.strict, &why);
  if (message != nullptr) {
    if (rules.verify_checksum || rules.strict || sum.line == 0) {
      findings->push_back(fault_at_line(sum.line, message, why));
    } else {
      findings->push_back(warning_at(sum.line, why + "; --no-verify runs it all the same"));
    }
  }
  if (sum.line == 0) return "none";
  return sum.holds ? "ok" : "bad";
}

void script_job(CheckReport& report, int slot, const std::string& path, int* mode, const IntegrityRules& rules) {
  std::string head = "job " + std::to_string(slot) + ": path " + display_quoted(path);
  FILE* file = open_job(report, head, path);
  if (file == nullptr) return;
  std::vector<Finding> integrity;
  std::string checksum = checksum_state(file, rules, &integrity);
  ScriptCheck check = check_script(file, *mode);
  fclose(file);
  *mode = check.mode_after;
  report.line(head + " lines=" + std::to_string(check.lines) + " text_commands=" +
              std::to_string(check.text_commands) + " binary_commands=" + std::to_string(check.binary_commands) +
              " version=" + display_quoted(check.version) + " command_header=" + display_quoted(check.cmd_header) +
              " checksum=" + checksum);
  for (const TransferPoint& t : check.transfers) {
    report.line("  line " + std::to_string(t.line) + ": transfer mode=" + std::to_string(t.mode) +
                " comm_reset=" + std::to_string(t.comm_reset) + " delay=" + std::to_string(t.jump_dealy) +
                " jump=" + display_quoted(t.jump_boot) + " boot=" + display_quoted(t.boot_version) + " main=" +
                display_quoted(t.main_version) + " hw=" + display_quoted(t.HW_version));
  }
  // The run refuses a script that fails its integrity check before it reads
  // a line of it.
  report.findings(path, integrity);
  report.findings(path, check.findings);
}

std::string section_line(const SectionSummary& s) {
  const SectionRecord& r = s.record;
  std::string out = "  section " + std::to_string(s.index) + ": type=";
  std::string place = " at=" + std::to_string(s.offset) + " length=" + std::to_string(r.length);
  if (s.kind == SectionKind::kCommand) {
    return out + "command kind=" + display_quoted(r.kind) + place + (s.complete ? " text=" + display_quoted(s.text) : "");
  }
  out += s.kind == SectionKind::kBinary ? "binary" : "framed";
  out += " mode=" + std::to_string(section_mode(r.flags)) + " binary_flag=" + std::to_string(r.binary) + place +
         " boot_version=" + display_quoted(r.boot_version) + " hardware=" + display_quoted(r.kind) +
         " jump_command=" + display_quoted(r.jump_command) + " command_header=" + display_quoted(r.command_header);
  if (!s.complete) return out;
  if (s.kind == SectionKind::kBinary) {
    out += " start=" + hex_text(s.bin.start_address, 8) + " end=" + hex_text(s.bin.end_address, 8) +
           " erase_step=" + std::to_string(s.bin.erase_step) + " chunk=" + std::to_string(s.bin.chunk_size);
  } else {
    out += " records=" + std::to_string(s.records);
  }
  out += " erases=" + std::to_string(s.erases);
  if (s.erases > 0) out += " erase=" + hex_text(s.first_erase, 8) + ".." + hex_text(s.last_erase, 8);
  std::string writes;
  for (const WriteRange& w : s.writes) writes += (writes.empty() ? "" : ",") + hex_text(w.start, 8) + "+" + std::to_string(w.bytes);
  return out + " writes=" + (writes.empty() ? "none" : writes);
}

const char* trailer_state(TrailerState state) {
  switch (state) {
    case TrailerState::kValid: return "ok";
    case TrailerState::kAbsent: return "none";
    default: return "bad";
  }
}

void package_job(CheckReport& report, int slot, const std::string& path, int* mode, const IntegrityRules& rules) {
  std::string head = "job " + std::to_string(slot) + ": pt " + display_quoted(path);
  FILE* file = open_job(report, head, path);
  if (file == nullptr) return;
  PackageState pkg;
  size_t got = fread(pkg.pt_header, 1, kPtHeaderSize, file);
  PackageReport check = check_package(pkg.pt_header, file, rules.strict);
  fclose(file);
  head += " bytes=" + std::to_string(check.file_size) + " trailer=" + trailer_state(check.trailer.state);
  if (got == static_cast<size_t>(kPtHeaderSize)) {
    char code[kDeviceCodeSize + 1];
    pt_device_code(pkg.pt_header, code);
    std::string order;
    for (int k = 0; k < kRunOrderSize && pt_run_order_entry(pkg.pt_header, k) != kRunOrderEnd; ++k) {
      order += (order.empty() ? "" : ",") + std::to_string(pt_run_order_entry(pkg.pt_header, k));
    }
    head += " device_code=" + display_quoted(code) + " b_argument=" + hex_text(pt_b_argument(pkg.pt_header), 4) +
            " run_order=" + (order.empty() ? "none" : order);
  }
  report.line(head);
  for (const SectionSummary& s : check.sections) report.line(section_line(s));
  for (const PackageCheck& fault : check.faults) report.finding(path, package_finding(fault));
  if (check.mode_after >= 0) *mode = check.mode_after;
}

}  // namespace

int check_list(Platform& os, const char* list_path, const IntegrityRules& rules) {
  CheckReport report(os);
  Updater u(os);  // the list file's state only: no VISA, nothing runs
  std::vector<Finding> findings;
  int read = read_list_file(u, list_path, &findings);
  const RunList& run = u.run;
  report.line("list " + display_quoted(list_path) + ": total=" + std::to_string(run.list_total) +
              " delay=" + std::to_string(run.list_delay) + " list_pause=" + std::to_string(run.list_pause) +
              " debug_mode=" + std::to_string(run.debug_mode) + " usb_address=" + display_quoted(u.link.UsbStrFilter));
  report.findings(list_path, findings);
  if (read != 0) return report.finish();
  if (!names_a_job(run)) report.finding(list_path, warning_at(0, "the list file names no job; nothing is run"));

  int mode = 0;  // the entry mode survives from one script or section to the next
  for (int slot = 0; slot < run.list_total; ++slot) {
    const char* argument = run.commond[slot];
    std::string job = "job " + std::to_string(slot) + ": ";
    switch (run.commond_mode[slot]) {
      case kJobSystem: report.line(job + "scmd " + display_quoted(argument)); break;
      case kJobMachine: report.line(job + "mcmd " + display_quoted(argument)); break;
      case kJobScript: script_job(report, slot, argument, &mode, rules); break;
      case kJobPackage: package_job(report, slot, argument, &mode, rules); break;
      default: break;  // an empty slot: the run skips it
    }
  }
  return report.finish();
}
