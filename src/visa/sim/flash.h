// The flash memory of a simulated instrument: a 32-bit address space kept
// in 4 KiB pages that exist only once written; a page erased whole and not
// written since is only remembered as erased, so that an erase plan over
// gigabytes costs a few bytes per page instead of the page itself. Bytes never erased hold the
// old firmware (a fill byte); erased bytes are 0xFF. Programming behaves like
// NOR flash: it can only clear bits, so a byte that was not erased ends up as
// old AND new, and the caller is told so that it can record a flash error.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string_view>
#include <vector>

namespace sim {

class Flash {
 public:
  explicit Flash(uint8_t fill) : fill_(fill) {}

  // Sets len bytes from addr on to 0xFF; the range is cut at the end of the
  // address space.
  void erase(uint32_t addr, uint64_t len);

  // Programs bytes from addr on. Returns the number of bytes that were not
  // erased before (0 when all were); *first_bad receives the address of the
  // first of them. Bytes past the end of the address space are not written
  // and count as not erased.
  size_t program(uint32_t addr, std::string_view bytes, uint64_t* first_bad);

  // The content of len bytes from addr on; past the end of the address space
  // the result is cut.
  std::vector<uint8_t> read(uint32_t addr, size_t len) const;

 private:
  static constexpr uint32_t kPageSize = 4096;
  using Page = std::array<uint8_t, kPageSize>;

  Page& page(uint32_t index);
  uint8_t byte_at(uint64_t addr) const;

  uint8_t fill_;
  std::map<uint32_t, Page> pages_;
  std::set<uint32_t> erased_pages_;  // erased whole, never written since; not in pages_
};

}  // namespace sim
