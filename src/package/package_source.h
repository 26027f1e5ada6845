// Where the package checks read a package from: an open file for the
// runner and --check, memory for tests and tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Where the check reads the file from. Tests and tools give it memory; the
// runner gives it its open FILE*.
class PackageSource {
 public:
  virtual ~PackageSource() = default;
  // The file size in bytes, or -1 when it cannot be told.
  virtual int64_t size() = 0;
  // Reads exactly n bytes at offset into out; false when that fails.
  virtual bool read(int64_t offset, uint8_t* out, size_t n) = 0;
};

class MemoryPackageSource : public PackageSource {
 public:
  MemoryPackageSource(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}
  int64_t size() override { return static_cast<int64_t>(size_); }
  bool read(int64_t offset, uint8_t* out, size_t n) override;

 private:
  const uint8_t* bytes_;
  size_t size_;
};

// An open file; reading moves its position.
class FilePackageSource : public PackageSource {
 public:
  explicit FilePackageSource(FILE* file) : file_(file) {}
  int64_t size() override;
  bool read(int64_t offset, uint8_t* out, size_t n) override;

 private:
  FILE* file_;
};
