#include "visa/sim/flash.h"

namespace sim {

namespace {
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
}  // namespace

Flash::Page& Flash::page(uint32_t index) {
  auto it = pages_.find(index);
  if (it == pages_.end()) {
    Page fresh;
    fresh.fill(erased_pages_.erase(index) != 0 ? 0xFF : fill_);
    it = pages_.emplace(index, fresh).first;
  }
  return it->second;
}

uint8_t Flash::byte_at(uint64_t addr) const {
  auto index = static_cast<uint32_t>(addr / kPageSize);
  auto it = pages_.find(index);
  if (it != pages_.end()) return it->second[addr % kPageSize];
  return erased_pages_.count(index) != 0 ? 0xFF : fill_;
}

void Flash::erase(uint32_t addr, uint64_t len) {
  uint64_t end = uint64_t{addr} + len;
  if (end > kAddressSpace) end = kAddressSpace;
  for (uint64_t a = addr; a < end;) {
    auto index = static_cast<uint32_t>(a / kPageSize);
    uint64_t in_page = a % kPageSize;
    uint64_t n = kPageSize - in_page;
    if (n > end - a) n = end - a;
    if (n == kPageSize) {
      pages_.erase(index);
      erased_pages_.insert(index);
    } else {
      Page& p = page(index);
      for (uint64_t k = 0; k < n; ++k) p[in_page + k] = 0xFF;
    }
    a += n;
  }
}

size_t Flash::program(uint32_t addr, std::string_view bytes, uint64_t* first_bad) {
  size_t bad = 0;
  for (size_t k = 0; k < bytes.size(); ++k) {
    uint64_t a = uint64_t{addr} + k;
    bool erased = a < kAddressSpace && byte_at(a) == 0xFF;
    if (!erased && bad++ == 0 && first_bad) *first_bad = a;
    if (a >= kAddressSpace) continue;
    uint8_t& cell = page(static_cast<uint32_t>(a / kPageSize))[a % kPageSize];
    cell = static_cast<uint8_t>(cell & static_cast<uint8_t>(bytes[k]));
  }
  return bad;
}

std::vector<uint8_t> Flash::read(uint32_t addr, size_t len) const {
  uint64_t end = uint64_t{addr} + len;
  if (end > kAddressSpace) end = kAddressSpace;
  std::vector<uint8_t> out;
  out.reserve(static_cast<size_t>(end - addr));
  for (uint64_t a = addr; a < end; ++a) out.push_back(byte_at(a));
  return out;
}

}  // namespace sim
