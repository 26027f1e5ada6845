// The choice of the instrument: how many are connected, how many searches
// find none, what the operator types at the list, and whether the
// bootloader comes back, all from the input; then a machine command and the
// demo's script run (the script makes the instrument jump and reconnects).
//
//   byte 0, bits 0-1   instruments connected, 1 .. 4
//           bit 2      the first one's bootloader enumerates under another string
//           bit 3      the first one starts in its bootloader
//           bit 4      the first one never comes back from its jump
//           bits 5-6   searches that find nothing at first, 0 .. 3
//   byte 1             the script's jump delay, in units of 100 ms
//   then one byte per operator answer: the number (a signed byte), or
//   0x7F for a line that is not a number; the input ends where they end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_samples.h"

namespace {

constexpr uint8_t kNotANumber = 0x7F;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Pieces in(data, size);
  uint8_t setup = in.byte();
  uint32_t jump_delay_ms = 100u * in.byte();

  sim::SimConfig config;
  int count = (setup & 3) + 1;
  for (int i = 0; i < count; ++i) {
    sim::InstrumentConfig c = fuzz::instrument(i == 0 && (setup & 8), i == 0 && (setup & 4));
    if (i > 0) {
      c.name = "sim" + std::to_string(i);
      c.main_rsrc = "USB0::0x1234::0x5678::SIM000" + std::to_string(i + 1) + "::INSTR";
      c.boot_rsrc = c.main_rsrc;
    }
    c.faults.never_back = i == 0 && (setup & 16);
    config.instruments.push_back(c);
  }
  config.faults.empty_searches = (setup >> 5) & 3;

  fuzz::Bench bench(std::move(config), 0);
  while (!in.empty()) {
    uint8_t b = in.byte();
    bench.os.answer(b == kNotANumber ? std::string("x") : std::to_string(static_cast<int8_t>(b)));
  }
  std::string script = fuzz::write_scratch("script.txt", fuzz::demo_script(0, 0, jump_delay_ms));
  bench.check_after_run(bench.run_list("total=2\nmcmd0=*RST\npath1=" + script + "\n"));
  return 0;
}
