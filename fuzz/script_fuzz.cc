// Update scripts: the input is one byte that sets up the instrument (see
// fuzz::run_script) and then the script file itself, run as the one job of
// a list file against a simulated instrument.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Pieces in(data, size);
  uint8_t setup = in.byte();
  fuzz::run_script(in.rest(), setup);
  return 0;
}
