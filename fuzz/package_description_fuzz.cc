// Packages by description: the input is the text tmpack reads (see
// tools/tmpack.cc). What it describes is laid out by the package writer
// and, when that succeeds, run like package_fuzz.cc runs its bytes, so that
// the fuzzer reaches well-formed packages with unusual values far more often
// than by flipping bytes. Named files are never read: image_file and
// data_file fail.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_package.h"
#include "package/package_description.h"
#include "package/package_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  PackagePlan plan;
  std::string error;
  auto no_files = [](const std::string&, std::vector<uint8_t>*) { return false; };
  if (!parse_package_description(text, no_files, &plan, &error)) {
    if (error.empty()) abort();  // a refusal always says why
    return 0;
  }
  std::vector<uint8_t> bytes;
  if (!build_package(plan, &bytes, &error)) {
    if (error.empty()) abort();
    return 0;
  }
  // The setup varies with the text, so that it needs no field of its own.
  fuzz::run_package(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                    static_cast<uint8_t>(size));
  return 0;
}
