#include "base/console.h"

#include <gtest/gtest.h>

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

TEST(PrintfColor, PrintsTextsLongerThanItsStackBuffer) {
  RecordingPlatform os;
  std::string big(5000, 'x');
  EXPECT_EQ(printf_color(os, 10, "machine cmd:%s\n", big.c_str()), 5013);
  EXPECT_EQ(os.text(), "machine cmd:" + big + "\n");
}

}  // namespace
