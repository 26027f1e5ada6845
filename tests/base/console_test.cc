#include "base/console.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "support/recording_platform.h"

namespace {

struct SystemCmdCase {
  const char* text;
  const char* log;
};

class SystemCmdTest : public ::testing::TestWithParam<SystemCmdCase> {};

TEST_P(SystemCmdTest, RunsShellOrSleeps) {
  RecordingPlatform os;
  SystemCmd(os, GetParam().text);
  EXPECT_EQ(os.log(), GetParam().log);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SystemCmdTest,
    ::testing::Values(SystemCmdCase{"DELAY1000", "sleep 1000\n"},
                      SystemCmdCase{"DELAY 1000", "sleep 1000\n"},
                      SystemCmdCase{"DELAY", "sleep 0\n"},
                      SystemCmdCase{"DELAYED", "sleep 0\n"},
                      SystemCmdCase{"DELAY 25ms", "sleep 25\n"},
                      // A negative delay would be a wait of weeks; it waits nothing.
                      SystemCmdCase{"DELAY -5", "sleep 0\n"},
                      SystemCmdCase{"delay 100", "shell delay 100\n"},
                      SystemCmdCase{" DELAY 100", "shell  DELAY 100\n"},
                      SystemCmdCase{"echo hi", "shell echo hi\n"}));

TEST(PrintfColor, FormatsInTheColourAndReturnsTheCount) {
  RecordingPlatform os;
  EXPECT_EQ(printf_color(os, 12, "Device is failed connected. (%d)\n", 7), 32);
  EXPECT_EQ(printf_plain(os, "update...%.2f%%\r", 25.0), 16);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (7)\\n\n<->update...25.00%\\r\n");
}

// The progress text is made without printf, and must be what printf makes
// of the same value to the byte: rounding of the exact binary value, ties to
// even, every size of whole part.
TEST(ProgressText, IsWhatPrintfMakesOfTheSameValue) {
  auto expect_printf = [](int64_t done, int64_t total) {
    char ours[kProgressBufferSize];
    char theirs[kProgressBufferSize];
    int n = format_progress(ours, sizeof ours, done, total);
    double value = total > 0 ? static_cast<double>(done) * 100.0 / static_cast<double>(total) : 100.0;
    int m = snprintf(theirs, sizeof theirs, "update...%.2f%%\r", value);
    ASSERT_EQ(std::string(ours, static_cast<size_t>(n)), std::string(theirs, static_cast<size_t>(m)))
        << done << " of " << total;
  };
  for (int64_t total = 1; total <= 300; ++total) {
    for (int64_t done = 0; done <= total + 2; ++done) expect_printf(done, total);
  }
  uint64_t x = 88172645463325252u;  // xorshift: the same sample every run
  for (int i = 0; i < 100000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    int64_t total = static_cast<int64_t>(x % 0xFFFFFFFFu) + 1;
    expect_printf(static_cast<int64_t>((x >> 7) % static_cast<uint64_t>(total + 1)), total);
  }
  // Ties and near ties (0.125 is exact in binary: printf rounds it to even),
  // nothing of a section, beyond the section (framed records may run past
  // its length), a length of 0, and values past the fast path.
  const int64_t cases[][2] = {{1, 800},        {3, 800},   {5, 800},   {1, 200000}, {0, 1},
                              {1, 1},          {7, 3},     {5, 0},     {0, 0},      {99995, 100000},
                              {4294967295, 1}, {INT64_MAX, 1}, {-1, 3}};
  for (const auto& c : cases) expect_printf(c[0], c[1]);
  char small[8];
  EXPECT_EQ(format_progress(small, sizeof small, 1, 2), 16);  // cut like snprintf
  EXPECT_STREQ(small, "update.");
}

// The lines printed, in order, and how many runs of equal lines they make.
size_t runs_of_equal_lines(const RecordingPlatform& os) {
  size_t runs = 0;
  const std::string* last = nullptr;
  for (const RecordingPlatform::Event& e : os.events()) {
    if (last == nullptr || e.text != *last) ++runs;
    last = &e.text;
  }
  return runs;
}

TEST(ProgressLine, WritesOnlyWhenTheTextChangesAndAfterAnythingElseWasPrinted) {
  RecordingPlatform every;
  RecordingPlatform changes;
  ProgressLine progress;
  auto both = [&](int64_t done, int64_t total) {
    print_progress(every, done, total);
    progress.print(changes, done, total);
  };
  // 16 MiB in chunks of 255 bytes: about six lines a hundredth.
  constexpr int64_t kTotal = 16 << 20;
  for (int64_t done = 16; done < kTotal; done += 255) both(done, kTotal);
  both(kTotal, kTotal);
  both(kTotal, kTotal);
  EXPECT_EQ(changes.print_count(), runs_of_equal_lines(every));
  EXPECT_LT(changes.print_count(), every.print_count() / 5);
  EXPECT_EQ(changes.screen(), every.screen());
  EXPECT_TRUE(changes.text().ends_with("update...99.99%\rupdate...100.00%\r"));

  // Something else printed: after forget() the same text is written again.
  printf_color(every, 12, "Device is failed connected. (6)\n");
  printf_color(changes, 12, "Device is failed connected. (6)\n");
  progress.forget();
  both(kTotal, kTotal);
  EXPECT_EQ(changes.screen(), every.screen());
  EXPECT_TRUE(changes.text().ends_with("(6)\nupdate...100.00%\r")) << changes.text();
}

TEST(PrintfColor, PrintsTextsLongerThanItsStackBuffer) {
  RecordingPlatform os;
  std::string big(5000, 'x');
  EXPECT_EQ(printf_color(os, 10, "machine cmd:%s\n", big.c_str()), 5013);
  EXPECT_EQ(os.text(), "machine cmd:" + big + "\n");
}

}  // namespace
