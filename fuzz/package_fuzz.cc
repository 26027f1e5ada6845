// Update packages: the input is one byte that sets up the instrument and
// then the package file itself, run as the one job of a list file against a
// simulated instrument. The check a package passes before it runs is also
// run over the same bytes in memory, where a read past the input is seen.
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

// The check on an exact-size copy of the input, header padded as the runner
// would have read it (the runner refuses a short header before the check).
void check_in_memory(std::string_view bytes) {
  std::vector<uint8_t> exact(bytes.begin(), bytes.end());
  PtHeader header = {};
  if (!exact.empty()) memcpy(header, exact.data(), exact.size() < sizeof header ? exact.size() : sizeof header);
  MemoryPackageSource source(exact.data(), exact.size());
  validate_package(header, source);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Pieces in(data, size);
  uint8_t setup = in.byte();
  std::string_view package = in.rest();
  check_in_memory(package);
  std::string path = fuzz::write_scratch("package.pkg", package);

  sim::SimConfig config;
  config.instruments.push_back(fuzz::instrument(setup & 1, setup & 2, setup & 4 ? 5000 : 100));
  fuzz::Bench bench(std::move(config));
  bench.check_after_run(bench.run_list("total=1\npt0=" + path + "\n"));
  return 0;
}
