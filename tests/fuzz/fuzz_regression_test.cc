// Every input a fuzz target once failed on stays in fuzz/regressions/NAME/ as
// a named case and runs here through the same target, compiled into this
// binary with its entry point renamed (see CMakeLists.txt). The seeds in
// fuzz/seeds/NAME/ run too, so that a target that no longer gets through a
// well-formed run is seen without the fuzzer. A case that crashes, aborts
// (the targets abort on a runaway run, an odd exit status or VISA handles
// left open) or takes far too long fails the suite.
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

// Runs every file of dir through the target; with readme, each must be
// named in the folder's README.md with what it caught.
void run_folder(const fs::path& dir, const std::string& name, bool readme) {
  const FuzzTarget* target = find_target(name);
  ASSERT_NE(target, nullptr) << "no fuzz target fuzz/" << name << "_fuzz.cc for " << dir;
  const std::string notes = readme ? read_file(dir / "README.md") : "";
  if (readme) {
    ASSERT_FALSE(notes.empty()) << dir << " has no README.md";
  }

  for (const fs::path& file : sorted_entries(dir)) {
    if (file.filename() == "README.md") continue;
    const std::string file_name = file.filename().string();
    if (readme) {
      EXPECT_NE(notes.find(file_name), std::string::npos) << file_name << " is not described in " << dir / "README.md";
    }
    const std::string bytes = read_file(file);
    // Before the run: an abort ends the binary, and this line names the case.
    fprintf(stderr, "fuzz case %s\n", file.string().c_str());
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(target->one_input(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), 0) << file_name;
    EXPECT_LT(std::chrono::steady_clock::now() - start, kCaseTimeLimit) << file_name;
  }
}

std::vector<std::string> folders(const char* root) {
  std::vector<std::string> out;
  for (const fs::path& p : sorted_entries(fs::path(TMFLASH_FUZZ_DIR) / root)) {
    if (fs::is_directory(p)) out.push_back(p.filename().string());
  }
  return out;
}

std::string param_name(const ::testing::TestParamInfo<std::string>& info) { return info.param; }

class FuzzRegression : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzRegression, EveryCaseRunsCleanly) {
  run_folder(fs::path(TMFLASH_FUZZ_DIR) / "regressions" / GetParam(), GetParam(), true);
}

INSTANTIATE_TEST_SUITE_P(Folders, FuzzRegression, ::testing::ValuesIn(folders("regressions")), param_name);

class FuzzSeeds : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzSeeds, EverySeedRunsCleanly) {
  run_folder(fs::path(TMFLASH_FUZZ_DIR) / "seeds" / GetParam(), GetParam(), false);
}

INSTANTIATE_TEST_SUITE_P(Folders, FuzzSeeds, ::testing::ValuesIn(folders("seeds")), param_name);

// Every target has seeds to start from.
TEST(FuzzTargets, EachHasSeeds) {
  std::vector<std::string> seeded = folders("seeds");
  for (const FuzzTarget& t : kFuzzTargets) {
    EXPECT_NE(std::find(seeded.begin(), seeded.end(), t.name), seeded.end()) << "fuzz/seeds/" << t.name;
  }
}

}  // namespace
