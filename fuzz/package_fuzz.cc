// Update packages: the input is one byte that sets up the instrument (see
// fuzz::run_package) and then the package file itself, checked in memory
// and run as the one job of a list file against a simulated instrument.
#include <cstddef>
#include <cstdint>

#include "fuzz/fuzz_package.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Pieces in(data, size);
  uint8_t setup = in.byte();
  fuzz::run_package(in.rest(), setup);
  return 0;
}
