// tmpack: builds a package file from a text description.
//
//   tmpack DESCRIPTION_FILE OUTPUT_FILE
//
// Exit status 0 when the package was written, 1 when the description is wrong
// or a file cannot be read or written (the reason goes to stderr, with the
// line number), 2 for a wrong command line. A package that the updater would
// refuse before running it is still written, with a note on stderr, because
// building such packages on purpose is what tests need.
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
#include <string>
#include <vector>

#include "package/package_check.h"
#include "package/package_description.h"
#include "package/package_writer.h"
#include "platform/native.h"

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

// Tells on stderr why the updater would refuse the package, if it would.
void note_refusal(const std::vector<uint8_t>& package) {
  PackageState header;
  std::copy_n(package.begin(), std::min<size_t>(package.size(), kPtHeaderSize), header.pt_header);
  MemoryPackageSource source(package.data(), package.size());
  PackageCheck check = validate_package(header.pt_header, source);
  if (check.fault == PtFault::kNone) return;
  std::fprintf(stderr, "tmpack: note: the updater would refuse this package: %s (section %d, run-order entry %d)\n",
               package_fault_text(check.fault), check.section, check.entry);
}

}  // namespace

int main(int argc, char** argv_system) {
  const ProgramArguments args(argc, argv_system);  // names, whatever the code page
  const char* const* argv = args.argv();
  if (argc != 3) {
    std::fprintf(stderr, "usage: tmpack DESCRIPTION_FILE OUTPUT_FILE\n");
    return 2;
  }
  std::vector<uint8_t> description;
  if (!read_file(argv[1], &description)) {
    std::fprintf(stderr, "tmpack: cannot read %s\n", argv[1]);
    return 1;
  }
  std::filesystem::path base = file_path(argv[1]).parent_path();
  DescriptionFileLoader load = [&base](const std::string& path, std::vector<uint8_t>* bytes) {
    std::filesystem::path p = file_path(path);
    return read_file(name_of(p.is_absolute() ? p : base / p), bytes);
  };
  PackagePlan plan;
  std::string error;
  std::string_view text(reinterpret_cast<const char*>(description.data()), description.size());
  if (!parse_package_description(text, load, &plan, &error)) {
    std::fprintf(stderr, "tmpack: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  std::vector<uint8_t> package;
  if (!build_package(plan, &package, &error)) {
    std::fprintf(stderr, "tmpack: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  note_refusal(package);
  if (!write_file(argv[2], package)) {
    std::fprintf(stderr, "tmpack: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
