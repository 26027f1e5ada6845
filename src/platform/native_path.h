// Names as std::filesystem paths, for the tools and tests that use
// iostreams and std::filesystem (the rule of names is in native.h). Apart
// from native.h so that the updater's own sources do not pull in
// <filesystem> and all it declares.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// The file named name, for iostreams and std::filesystem.
std::filesystem::path file_path(std::string_view name);

// The name of a std::filesystem path, the inverse of file_path: UTF-8 on
// Windows, the bytes on POSIX.
std::string name_of(const std::filesystem::path& path);
