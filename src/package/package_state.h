// The header of the package that is running.
#pragma once

#include <cstdint>

constexpr int kPtHeaderSize = 1968;

struct PackageState {
  uint8_t pt_header[kPtHeaderSize] = {};  // read whole from the file; not cleared between packages
};
