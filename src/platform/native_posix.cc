#include <cstdio>
#include <cstdlib>

#include "platform/native.h"
#include "platform/native_path.h"

FILE* open_file(const char* path, const char* mode) { return fopen(path, mode); }

FILE* open_temporary_file() { return std::tmpfile(); }

std::filesystem::path file_path(std::string_view name) { return std::filesystem::path(name); }

std::string name_of(const std::filesystem::path& path) { return path.string(); }

std::vector<std::string> program_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string make_temp_directory(std::string_view prefix) {
  std::string pattern = (std::filesystem::temp_directory_path() / prefix).string() + "XXXXXX";
  return mkdtemp(pattern.data()) != nullptr ? pattern : "";
}

std::string environment_variable(const char* variable) {
  const char* value = getenv(variable);
  return value ? value : "";
}
