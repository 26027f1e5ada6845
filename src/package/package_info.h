// A package described for people (tmpack --info): the header, each section
// in run order with what it sends and where it writes, the records the run
// order does not name, and every fault the updater would meet, with its
// numbered messages exactly as tmflash --check reports them: both come from
// the one walk of check_package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PackageInfo {
  std::string text;
  int faults = 0;
};

// Describes package (the whole file); name is how its faults name the file.
PackageInfo describe_package(const std::vector<uint8_t>& package, const std::string& name);
