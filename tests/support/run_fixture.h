// What most tests start from: a recording platform, a fresh Updater over it
// and a directory for the files the test writes.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "driver/runner.h"
#include "driver/updater.h"
#include "support/recording_platform.h"
#include "support/temp_dir.h"

class RunFixture : public ::testing::Test {
 protected:
  RunFixture() : u(os) {}

  // Runs the updater's entry point on a list file with the given text.
  int run_list(const std::string& list_text) {
    std::string list = dir.write("update.lst", list_text);
    const char* argv[] = {"tmflash", list.c_str()};
    return updater_main(u, 2, argv);
  }

  RecordingPlatform os;
  Updater u;
  TempDir dir;
};
