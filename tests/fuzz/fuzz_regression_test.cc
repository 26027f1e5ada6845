// Every input a fuzz target once failed on stays in fuzz/regressions/NAME/ as
// a named case and runs here through the same target, compiled into this
// binary with its entry point renamed (see CMakeLists.txt). A case that
// crashes, aborts (the targets abort on a runaway run, an odd exit status
// or VISA handles left open) or takes far too long fails the suite.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_targets.h"

namespace {

namespace fs = std::filesystem;

// A case that runs this long is a hang that happened to end.
constexpr auto kCaseTimeLimit = std::chrono::seconds(20);

const FuzzTarget* find_target(const std::string& name) {
  for (const FuzzTarget& t : kFuzzTargets) {
    if (name == t.name) return &t;
  }
  return nullptr;
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<fs::path> sorted_entries(const fs::path& dir) {
  std::vector<fs::path> out;
  for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

class FuzzRegression : public ::testing::TestWithParam<std::string> {};

// One test per target folder; each case in it runs in turn, and must be
// named in the folder's README.md with what it caught.
TEST_P(FuzzRegression, EveryCaseRunsCleanly) {
  const fs::path dir = fs::path(TMFLASH_FUZZ_REGRESSIONS) / GetParam();
  const FuzzTarget* target = find_target(GetParam());
  ASSERT_NE(target, nullptr) << "no fuzz target fuzz/" << GetParam() << "_fuzz.cc for " << dir;
  const std::string readme = read_file(dir / "README.md");
  ASSERT_FALSE(readme.empty()) << dir << " has no README.md";

  for (const fs::path& file : sorted_entries(dir)) {
    if (file.filename() == "README.md") continue;
    const std::string name = file.filename().string();
    EXPECT_NE(readme.find(name), std::string::npos) << name << " is not described in " << dir / "README.md";
    const std::string bytes = read_file(file);
    // Before the run: an abort ends the binary, and this line names the case.
    fprintf(stderr, "fuzz regression %s/%s\n", GetParam().c_str(), name.c_str());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(target->one_input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0) << name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, kCaseTimeLimit) << name;
  }
}

std::vector<std::string> regression_folders() {
  std::vector<std::string> out;
  for (const fs::path& p : sorted_entries(TMFLASH_FUZZ_REGRESSIONS)) {
    if (fs::is_directory(p)) out.push_back(p.filename().string());
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(Folders, FuzzRegression, ::testing::ValuesIn(regression_folders()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

}  // namespace
