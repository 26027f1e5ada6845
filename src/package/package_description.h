// The text description that the tmpack tool turns into a package. The format
// is documented at the top of tools/tmpack.cc; this is its parser, kept in the
// library so that tests can read descriptions without running the tool.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "package/package_writer.h"

// Reads the file named by an image_file or data_file key (the path as
// written in the description) into bytes; false when it cannot be read.
using DescriptionFileLoader = std::function<bool(const std::string& path, std::vector<uint8_t>* bytes)>;

// Parses a whole description into plan. On success returns true; otherwise
// returns false with error "line N: what is wrong".
bool parse_package_description(std::string_view text, const DescriptionFileLoader& load, PackagePlan* plan,
                               std::string* error);
