// The simulator's description files (--visa=sim:FILE): the input is the
// text of one. When it parses, the instruments it describes are connected
// and the demo's script and package run against them, so that every value
// the file can give the simulator is one it must cope with. The transcript
// file it may name is never written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_samples.h"
#include "visa/sim/sim_file.h"

namespace {

// Enough to choose between instruments; more only slows every search.
constexpr size_t kMaxInstruments = 4;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  sim::SimConfig config;
  std::string error;
  if (!sim::parse_sim_description(text, "fuzz.sim", &config, &error)) {
    if (error.empty()) abort();  // a refusal always says why
    return 0;
  }
  if (config.instruments.size() > kMaxInstruments) return 0;

  static const std::string script = fuzz::write_scratch("script.txt", fuzz::demo_script(0, 0));
  static const std::string package = fuzz::write_scratch("package.pkg", fuzz::demo_package(0, 1));
  fuzz::Bench bench(std::move(config));
  bench.check_after_run(bench.run_list("total=3\nmcmd0=*RST\npath1=" + script + "\npt2=" + package + "\n"));
  return 0;
}
