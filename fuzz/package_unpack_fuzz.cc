// Packages read back, both ways round:
// - the input as a package file: tmpack --unpack's description builds it
//   back byte for byte, and --info describes it without harm;
// - the input as a tmpack description, when it builds: the package it gives
//   unpacks to a description that builds that package again.
// Any difference, or a package of at least a header that cannot be
// unpacked, aborts. Named files are never read: image_file and data_file
// of the input fail.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "package/package_description.h"
#include "package/package_format.h"
#include "package/package_info.h"
#include "package/package_unpack.h"
#include "package/package_writer.h"

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
  fprintf(stderr, "package_unpack: %s\n%s\n", what, detail.c_str());
  abort();
}

void round_trip(const std::vector<uint8_t>& package) {
  describe_package(package, "fuzz.pkg");
  PackageUnpack unpacked;
  std::string error;
  if (!unpack_package(package, "fuzz.pkg", &unpacked, &error)) {
    if (package.size() >= static_cast<size_t>(kPtHeaderSize)) fail("a package cannot be unpacked", error);
    return;
  }
  std::vector<uint8_t> again;
  if (!rebuild_package(unpacked.description, unpacked.files, &again, &error)) fail(error.c_str(), unpacked.description);
  if (again != package) fail("the package does not come back", unpacked.description);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  round_trip(std::vector<uint8_t>(data, data + size));

  std::string_view text(reinterpret_cast<const char*>(data), size);
  PackagePlan plan;
  std::string error;
  auto no_files = [](const std::string&, std::vector<uint8_t>*) { return false; };
  std::vector<uint8_t> package;
  if (parse_package_description(text, no_files, &plan, &error) && build_package(plan, &package, &error)) {
    round_trip(package);
  }
  return 0;
}
