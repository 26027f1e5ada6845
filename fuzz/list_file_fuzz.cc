// List files: the input is the list file, run whole against a simulated
// instrument. Its jobs may name "fw.txt" (the demo's update script) and
// "fw.pkg" (the demo's package), which lie beside it; any name with a "/"
// (on Windows also "\\") is left alone, so that a run never reads the rest
// of the file system (a device such as /dev/zero is a script that never ends).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_samples.h"

namespace {

#ifdef _WIN32
constexpr const char* kFolderSeparators = "/\\";
#else
constexpr const char* kFolderSeparators = "/";
#endif

// Runs in the scratch directory, where the job files lie, and goes back.
class InScratchDir {
 public:
  InScratchDir() {
    std::error_code error;
    previous_ = std::filesystem::current_path(error);
    if (!error) std::filesystem::current_path(file_path(fuzz::scratch_dir()), error);
    if (error) abort();
  }
  ~InScratchDir() {
    std::error_code error;
    std::filesystem::current_path(previous_, error);
    if (error) abort();
  }

 private:
  std::filesystem::path previous_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view list(reinterpret_cast<const char*>(data), size);
  if (list.find_first_of(kFolderSeparators) != std::string_view::npos) return 0;
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
