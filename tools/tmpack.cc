// tmpack: builds a package file from a text description, and takes any
// package apart again or describes it.
//
//   tmpack [--allow-refused] DESCRIPTION_FILE OUTPUT_FILE
//   tmpack --unpack PACKAGE DIR
//   tmpack --info PACKAGE
//   tmpack --help | --version
//
// The package ends in its integrity trailer (src/package/package_trailer.h):
// 16 bytes with the CRC-32 of everything before them, which the updater
// verifies before it opens the instrument; "integrity_trailer = no" leaves
// it out (an unpacked package that had none is built back without it).
//
// Exit status 0 when done, 1 when the description is wrong, a file cannot
// be read or written (the reason goes to stderr, with the line number) or
// the updater would refuse the package (--info), 2 for a wrong command line.
//
// --unpack writes DIR/STEM.desc, a description in the format below, and the
// files it names (a binary section's image, the data of a raw section); tmpack
// of that description builds the package back byte for byte
// (src/package/package_unpack.h). --info describes the package for people and
// names every fault the updater would meet, as tmflash --check names it
// (src/package/package_info.h).
//
// The package is checked as the updater checks it before it touches the
// instrument (every section of the run order, every framed record, every
// command a binary section streams, framed in the section's send mode). A
// package the updater would refuse is not written: each fault is reported
// with its byte offset in the package, the message the updater would print
// and its section, and the exit status is 1. --allow-refused writes it all
// the same, for building the packages that tests of an updater must see
// refused.
//
// Description format. One "KEY = VALUE" per line; blanks around key and value
// are dropped. Lines that are empty or start with '#' or ';' are skipped.
// Numbers are decimal or 0x-hexadecimal, optionally negative. HEX means
// pairs of hex digits, blanks and commas between bytes allowed ("D0 47 9B").
// Texts take the escapes \\ \n \r \t \xHH (use \x20 for an edge blank).
//
//   [package]
//   magic = 0x1B9B47D0        default D0 47 9B 1B
//   b_argument = 0x1234       argument of the "&b#%04X$" command
//   device_code = DEV1        at most 8 characters
//   run_order = 1, 0, 2       at most 32 indices (blanks or commas); rest 0xFF
//   trailer = HEX             bytes after the last section's data
//   integrity_trailer = no    no integrity trailer after everything (default yes)
//   patch = OFFSET: HEX       bytes written over the finished file (repeatable)
//
//   [section N]               N = 0 .. 19; records not described stay empty
//   type = command | binary | framed | raw     must be the first key
//   boot_version = 2.05       at most 31 characters
//   kind = mcmd               command: mcmd or scmd; firmware: hardware
//   hardware = HW3              versions ("kind" and "hardware" are one field, 7 chars)
//   mode = 0                  bootloader-entry mode 0 .. 127 (firmware, raw)
//   flags = 0x83              section flags, replacing 0xFF / 0x80|mode / mode
//   binary_flag = 1           -128 .. 127
//   jump_command = TEXT       at most 24 characters
//   command_header = TEXT     at most 24 characters
//   length = 123              stored section length instead of the data's size
//   command sections:  text = TEXT   or   text_hex = HEX
//   binary sections:   start = 0x100, end = 0x3FF, chunk = 0x80, erase_step = 0x100,
//                      image_file = PATH (relative to the description's folder)
//                      or image_hex = HEX
//   framed sections:   record = &e@00001000$     a command line, encoded as its raw record
//                      record_nul = &q$          the same with a NUL the length counts
//                      record_raw = HEX          the record's bytes as they are
//                      record_length = 257       stored length of the record just above
//                      (records are written in the order given)
//   raw sections:      data_hex = HEX   or   data_file = PATH   (flags default to mode)
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "base/finding.h"
#include "package/package_check.h"
#include "package/package_description.h"
#include "package/package_info.h"
#include "package/package_unpack.h"
#include "package/package_writer.h"
#include "platform/native_path.h"
#include "tools/tool_command_line.h"

namespace {

bool read_file(const std::string& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(file_path(path), std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

bool write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(file_path(path), std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

// Tells on stderr every fault for which the updater would refuse the
// package. Returns true when there is none.
bool updater_accepts(const std::vector<uint8_t>& package, const std::string& description) {
  PackageState header;
  std::copy_n(package.begin(), std::min<size_t>(package.size(), kPtHeaderSize), header.pt_header);
  MemoryPackageSource source(package.data(), package.size());
  PackageReport report = check_package(header.pt_header, source);
  for (const PackageCheck& fault : report.faults) {
    Finding f = package_finding(fault);
    std::string place = description + (f.offset >= 0 ? ": byte " + std::to_string(f.offset) + " of the package" : "");
    std::fprintf(stderr, "tmpack: %s: %s: %s\n", place.c_str(), finding_messages(f).c_str(), f.text.c_str());
  }
  return report.faults.empty();
}

int pack(const std::string& description_path, const std::string& output_path, bool allow_refused) {
  std::vector<uint8_t> description;
  if (!read_file(description_path, &description)) {
    std::fprintf(stderr, "tmpack: cannot read %s\n", description_path.c_str());
    return kToolFailed;
  }
  std::filesystem::path base = file_path(description_path).parent_path();
  DescriptionFileLoader load = [&base](const std::string& path, std::vector<uint8_t>* bytes) {
    std::filesystem::path p = file_path(path);
    return read_file(name_of(p.is_absolute() ? p : base / p), bytes);
  };
  PackagePlan plan;
  std::string error;
  std::string_view text(reinterpret_cast<const char*>(description.data()), description.size());
  if (!parse_package_description(text, load, &plan, &error)) {
    std::fprintf(stderr, "tmpack: %s: %s\n", description_path.c_str(), error.c_str());
    return kToolFailed;
  }
  std::vector<uint8_t> package;
  if (!build_package_file(plan, &package, &error)) {
    std::fprintf(stderr, "tmpack: %s: %s\n", description_path.c_str(), error.c_str());
    return kToolFailed;
  }
  if (!updater_accepts(package, description_path)) {
    if (!allow_refused) {
      std::fprintf(stderr,
                   "tmpack: %s: nothing written: the updater would refuse this package (--allow-refused writes it "
                   "all the same)\n",
                   description_path.c_str());
      return kToolFailed;
    }
    std::fprintf(stderr, "tmpack: %s: written all the same (--allow-refused)\n", description_path.c_str());
  }
  if (!write_file(output_path, package)) {
    std::fprintf(stderr, "tmpack: cannot write %s\n", output_path.c_str());
    return kToolFailed;
  }
  return kToolDone;
}

int unpack(const std::string& package_path, const std::string& dir) {
  std::vector<uint8_t> package;
  if (!read_file(package_path, &package)) {
    std::fprintf(stderr, "tmpack: cannot read %s\n", package_path.c_str());
    return kToolFailed;
  }
  PackageUnpack unpacked;
  std::string error;
  if (!unpack_package(package, package_path, &unpacked, &error)) {
    std::fprintf(stderr, "tmpack: %s: %s\n", package_path.c_str(), error.c_str());
    return kToolFailed;
  }
  std::error_code ec;
  std::filesystem::create_directories(file_path(dir), ec);
  std::string stem = name_of(file_path(package_path).stem());
  std::vector<UnpackedFile> files = unpacked.files;
  std::string text = unpacked.description;
  files.push_back({stem + ".desc", std::vector<uint8_t>(text.begin(), text.end())});
  for (const UnpackedFile& f : files) {
    std::string path = name_of(file_path(dir) / file_path(f.name));
    if (!write_file(path, f.bytes)) {
      std::fprintf(stderr, "tmpack: cannot write %s\n", path.c_str());
      return kToolFailed;
    }
    std::printf("%s\n", path.c_str());
  }
  if (describe_package(package, package_path).faults > 0) {
    std::fprintf(stderr,
                 "tmpack: %s: the updater would refuse this package (tmpack --info says why); build it again with "
                 "--allow-refused\n",
                 package_path.c_str());
  }
  return kToolDone;
}

int info(const std::string& package_path) {
  std::vector<uint8_t> package;
  if (!read_file(package_path, &package)) {
    std::fprintf(stderr, "tmpack: cannot read %s\n", package_path.c_str());
    return kToolFailed;
  }
  PackageInfo described = describe_package(package, package_path);
  std::fputs(described.text.c_str(), stdout);
  return described.faults == 0 ? kToolDone : kToolFailed;
}

constexpr char kUsage[] =
    "Usage: tmpack [--allow-refused] DESCRIPTION PACKAGE\n"
    "  or:  tmpack --unpack PACKAGE DIR\n"
    "  or:  tmpack --info PACKAGE\n"
    "  or:  tmpack --help | --version\n";

constexpr char kDescription[] =
    "Builds the update package PACKAGE from its text DESCRIPTION. A package\n"
    "the updater would refuse is not written (each fault on standard error).\n"
    "With --unpack, takes PACKAGE apart into DIR: a description and the files\n"
    "it names, from which tmpack builds PACKAGE again byte for byte. With\n"
    "--info, describes PACKAGE and names every fault the updater would meet.\n";

constexpr char kFooter[] =
    "Exit status: 0 when done; 1 when a file cannot be read or written, the\n"
    "description is wrong or the updater would refuse the package; 2 for a\n"
    "wrong command line. The description format is described in the README\n"
    "(\"Update packages\").";

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> files;
  std::unique_ptr<CLI::App> app = tool_app("tmpack", kUsage, kDescription, kFooter, files);
  bool allow_refused = false, unpacking = false, describing = false;
  CLI::Option* allow =
      app->add_flag("--allow-refused", allow_refused, "write a package the updater would refuse all the same");
  CLI::Option* unpack_flag = app->add_flag("--unpack", unpacking, "take PACKAGE apart into DIR")->excludes(allow);
  app->add_flag("--info", describing, "describe PACKAGE and the faults the updater would meet")
      ->excludes(allow)
      ->excludes(unpack_flag);
  int status = parse_tool_command_line(*app, argc, argv);
  if (status >= 0) return status;
  if (unpacking) {
    if (files.size() != 2) return usage_error(*app, "--unpack takes PACKAGE and DIR");
    return unpack(files[0], files[1]);
  }
  if (describing) {
    if (files.size() != 1) return usage_error(*app, "--info takes PACKAGE");
    return info(files[0]);
  }
  if (files.size() != 2) return usage_error(*app, "expected DESCRIPTION and PACKAGE");
  return pack(files[0], files[1], allow_refused);
}
