#include "support/temp_dir.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/native.h"
#include "platform/native_path.h"

TempDir::TempDir() : path_(make_temp_directory("tmflash-test-")) {
  if (path_.empty()) throw std::runtime_error("cannot make a temporary directory");
#ifdef _WIN32
  // Windows takes "/" as well; with it the paths read the same as on POSIX in
  // the texts the tests expect (where a recorded "\\" would be escaped).
  for (char& c : path_) c = c == '\\' ? '/' : c;
#endif
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(file_path(path_), ignored);
}

std::string TempDir::file(std::string_view name) const { return path_ + "/" + std::string(name); }

std::string TempDir::write(std::string_view name, std::string_view bytes) const {
  std::string p = file(name);
  std::ofstream out(file_path(p), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + p);
  return p;
}
