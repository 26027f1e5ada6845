// Update scripts: the input is one byte that sets up the instrument and then
// the script file itself, run as the one job of a list file against a
// simulated instrument.
//
//   byte 0, bit 0   the instrument starts in its bootloader (else main firmware)
//           bit 1   its bootloader enumerates under another resource string
//           bit 2   its reboot takes 5000 ms (else 100 ms)
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Pieces in(data, size);
  uint8_t setup = in.byte();
  std::string script = fuzz::write_scratch("script.txt", in.rest());

  sim::SimConfig config;
  config.instruments.push_back(fuzz::instrument(setup & 1, setup & 2, setup & 4 ? 5000 : 100));
  fuzz::Bench bench(std::move(config));
  bench.check_after_run(bench.run_list("total=1\npath0=" + script + "\n"));
  return 0;
}
