#include "package/package_source.h"

#include <cstring>

bool MemoryPackageSource::read(int64_t offset, uint8_t* out, size_t n) {
  if (offset < 0 || static_cast<uint64_t>(offset) > size_ || n > size_ - static_cast<size_t>(offset)) {
    return false;
  }
  memcpy(out, bytes_ + offset, n);
  return true;
}

int64_t FilePackageSource::size() {
  if (std::fseek(file_, 0, SEEK_END) != 0) return -1;
  return std::ftell(file_);
}

bool FilePackageSource::read(int64_t offset, uint8_t* out, size_t n) {
  if (std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0) return false;
  return std::fread(out, 1, n, file_) == n;
}
