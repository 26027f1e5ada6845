// Update packages: the input is one byte that sets up the instrument and
// then the package file itself, run as the one job of a list file against a
// simulated instrument. The check a package passes before it runs is also
// run over the same bytes in memory, where a read past the input is seen.
// Packages whose binary sections would send more than kMaxCommands commands
// are skipped (see binary_commands).
//
//   byte 0, bit 0   the instrument starts in its bootloader (else main firmware)
//           bit 1   its bootloader enumerates under another resource string
//           bit 2   its reboot takes 5000 ms (else 100 ms)
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_harness.h"
#include "package/package_check.h"
#include "package/package_format.h"

namespace {

// The header as the runner reads it, zero-padded when the file is shorter
// (the runner refuses a short header before the check).
void read_header(std::string_view bytes, PtHeader& header) {
  memset(header, 0, sizeof header);
  if (!bytes.empty()) memcpy(header, bytes.data(), bytes.size() < sizeof header ? bytes.size() : sizeof header);
}

// The check on an exact-size copy of the input.
void check_in_memory(std::string_view bytes) {
  std::vector<uint8_t> exact(bytes.begin(), bytes.end());
  PtHeader header;
  read_header(bytes, header);
  MemoryPackageSource source(exact.data(), exact.size());
  validate_package(header, source);
}

// Commands a package's binary sections will send, or more than kMaxCommands.
// A package that erases gigabytes in small steps is valid and runs, one
// command at a time, for as long as it says: too long to be worth a fuzz
// run, so such inputs are skipped.
constexpr int64_t kMaxCommands = 20000;

int64_t binary_commands(std::string_view bytes, const PtHeader& header) {
  int64_t offsets[kSectionCount];
  pt_data_offsets(header, offsets);
  int64_t total = 0;
  for (int k = 0; k < kRunOrderSize && total <= kMaxCommands; ++k) {
    uint8_t r = pt_run_order_entry(header, k);
    if (r == kRunOrderEnd) break;
    if (r >= kSectionCount) break;
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Pieces in(data, size);
  uint8_t setup = in.byte();
  std::string_view package = in.rest();
  check_in_memory(package);
  PtHeader header;
  read_header(package, header);
  if (binary_commands(package, header) > kMaxCommands) return 0;
  std::string path = fuzz::write_scratch("package.pkg", package);

  sim::SimConfig config;
  config.instruments.push_back(fuzz::instrument(setup & 1, setup & 2, setup & 4 ? 5000 : 100));
  fuzz::Bench bench(std::move(config));
  bench.check_after_run(bench.run_list("total=1\npt0=" + path + "\n"));
  return 0;
}
