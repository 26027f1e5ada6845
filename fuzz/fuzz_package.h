// Running one package file as the one job of a list file, for the targets
// that make packages: from raw bytes (package_fuzz.cc) and from tmpack's
// description text (package_description_fuzz.cc).
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_harness.h"
#include "package/package_check.h"
#include "package/package_format.h"

namespace fuzz {

// A package that erases gigabytes in small steps is valid and runs, one
// command at a time, for as long as it says: too long to be worth a fuzz
// run, so packages of more binary-section commands than this are skipped.
constexpr int64_t kMaxPackageCommands = 20000;

// The header as the runner reads it, zero-padded when the file is shorter
// (the runner refuses a short header before its check).
inline void read_header(std::string_view bytes, PtHeader& header) {
  memset(header, 0, sizeof header);
  if (!bytes.empty()) memcpy(header, bytes.data(), bytes.size() < sizeof header ? bytes.size() : sizeof header);
}

// The commands the binary sections of the run order will send: erase
// commands and data commands. Stops counting past kMaxPackageCommands.
inline int64_t binary_commands(std::string_view bytes, const PtHeader& header) {
  int64_t offsets[kSectionCount];
  pt_data_offsets(header, offsets);
  int64_t total = 0;
  for (int k = 0; k < kRunOrderSize && total <= kMaxPackageCommands; ++k) {
    uint8_t r = pt_run_order_entry(header, k);
    if (r == kRunOrderEnd || r >= kSectionCount) break;
    SectionRecord rec = pt_record(header, r);
    if (section_kind(rec.flags) != SectionKind::kBinary || rec.length < kBinHeaderSize) continue;
    if (offsets[r] + kBinHeaderSize > static_cast<int64_t>(bytes.size())) continue;
    BinHeader h = decode_bin_header(reinterpret_cast<const uint8_t*>(bytes.data()) + offsets[r]);
    if (h.start_address <= h.end_address && h.erase_step > 0) {
      total += (static_cast<int64_t>(h.end_address) - h.start_address) / h.erase_step + 1;
    }
    if (h.chunk_size > 0) total += (static_cast<int64_t>(rec.length) - kBinHeaderSize) / h.chunk_size + 1;
  }
  return total;
}

// Checks the package on an exact-size copy in memory, where a read past the
// bytes is seen, and then runs it against one instrument:
//   setup bit 0   the instrument starts in its bootloader (else main firmware)
//         bit 1   its bootloader enumerates under another resource string
//         bit 2   its reboot takes 5000 ms (else 100 ms)
inline void run_package(std::string_view package, uint8_t setup) {
  PtHeader header;
  read_header(package, header);
  std::vector<uint8_t> exact(package.begin(), package.end());
  MemoryPackageSource source(exact.data(), exact.size());
  // The run refuses with the first fault of the whole check, whichever of
  // the two walks finds it.
  PtFault first = validate_package(header, source).fault;
  PackageReport report = check_package(header, source);
  if (first != (report.faults.empty() ? PtFault::kNone : report.faults.front().fault)) {
    fprintf(stderr, "fuzz: the run's check and the whole check disagree on the first fault\n");
    abort();
  }
  if (binary_commands(package, header) > kMaxPackageCommands) return;

  std::string path = write_scratch("package.pkg", package);
  sim::SimConfig config;
  config.instruments.push_back(instrument(setup & 1, setup & 2, setup & 4 ? 5000 : 100));
  Bench bench(std::move(config));
  bench.check_after_run(bench.run_list("total=1\npt0=" + path + "\n"));
}

}  // namespace fuzz
