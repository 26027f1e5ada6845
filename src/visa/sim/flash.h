// The flash memory of a simulated instrument: a 32-bit address space kept
// in 4 KiB pages that exist only once written; a page erased whole and not
// written since is only remembered as erased, so that an erase plan over
// gigabytes costs a few bytes per page instead of the page itself. Bytes
// never erased hold the old firmware (a fill byte); erased bytes are 0xFF.
// Programming behaves like NOR flash: it can only clear bits, so a byte that
// was not erased ends up as old AND new, and the caller is told so that it
// can record a flash error.
//
// Memory. A table of one slot per page says what each page holds (made with
// the flash, it occupies memory only where it is used: 4 bytes per page);
// written pages live in slabs of 256 pages (1 MiB) that are taken as needed,
// and the pages a whole-page erase gives back are used again. The first slab
// is made with the flash, so that programming up to 1 MiB allocates nothing,
// and after that one allocation serves 256 pages: programming is a table
// look-up per run of bytes within a page, never a search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>
#include <vector>

namespace sim {

class Flash {
 public:
  explicit Flash(uint8_t fill);
  Flash(const Flash&) = delete;
  Flash& operator=(const Flash&) = delete;

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
  static constexpr uint32_t kPageCount = uint32_t{1} << 20;  // 4 GiB of pages
  static constexpr uint32_t kSlabPages = 256;
  // A slot holds kNever, kErased or kStored + the page's number in the slabs.
  static constexpr uint32_t kNever = 0;   // never erased nor written: the fill byte
  static constexpr uint32_t kErased = 1;  // erased whole, not written since
  static constexpr uint32_t kStored = 2;

  struct Free {
    void operator()(void* p) const { std::free(p); }
  };

  uint8_t* stored(uint32_t slot) const;
  uint8_t* writable(uint32_t index);
  uint32_t take_page();
  void give_back(uint32_t slot);

  uint8_t fill_;
  std::unique_ptr<uint32_t[], Free> slots_;  // kPageCount, zeroed: all kNever
  std::vector<std::unique_ptr<uint8_t[]>> slabs_;
  uint32_t pages_made_ = 0;   // pages handed out of the slabs so far
  uint32_t free_page_ = 0;    // a given-back page (its slot value), or kNever
};

}  // namespace sim
