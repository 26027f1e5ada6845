// A fresh directory per test for the list files, scripts and packages it
// writes; removed again at the end.
#pragma once

#include <string>
#include <string_view>

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of name inside the directory.
  std::string file(std::string_view name) const;
  // Writes bytes to name (created or replaced) and returns its path.
  std::string write(std::string_view name, std::string_view bytes) const;

 private:
  std::string path_;
};
