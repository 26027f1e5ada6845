// List files: the input is the list file, run whole against a simulated
// instrument. Its jobs may name "fw.txt" (the demo's update script) and
// "fw.pkg" (the demo's package), which lie beside it; any name with a "/"
// is left alone, so that a run never reads the rest of the file system
// (a device such as /dev/zero is a script that never ends).
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_samples.h"

namespace {

// Runs in the scratch directory, where the job files lie, and goes back.
class InScratchDir {
 public:
  InScratchDir() {
    if (getcwd(previous_, sizeof previous_) == nullptr || chdir(fuzz::scratch_dir().c_str()) != 0) abort();
  }
  ~InScratchDir() {
    if (chdir(previous_) != 0) abort();
  }

 private:
  char previous_[4096];
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view list(reinterpret_cast<const char*>(data), size);
  if (list.find('/') != std::string_view::npos) return 0;
  static const bool files_ready = [] {
    fuzz::write_scratch("fw.txt", fuzz::demo_script(0, 0));
    fuzz::write_scratch("fw.pkg", fuzz::demo_package(0, 0));
    return true;
  }();
  (void)files_ready;

  InScratchDir here;
  sim::SimConfig config;
  config.instruments.push_back(fuzz::instrument(false, true));
  fuzz::Bench bench(std::move(config));
  bench.check_after_run(bench.run_list(list));
  return 0;
}
