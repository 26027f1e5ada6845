#include "visa/sim/flash.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace sim {

namespace {

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

// Eight bytes at a time: a data command programs a few hundred bytes, and
// these two loops are most of what the simulator does per command.
bool all_erased(const uint8_t* p, uint64_t n) {
  uint64_t all = ~uint64_t{0};
  uint64_t k = 0;
  for (uint64_t w = 0; k + 8 <= n; k += 8) {
    memcpy(&w, p + k, 8);
    all &= w;
  }
  for (; k < n; ++k) all &= ~uint64_t{0xFF} | p[k];
  return all == ~uint64_t{0};
}

void clear_bits(uint8_t* cell, const uint8_t* from, uint64_t n) {
  uint64_t k = 0;
  for (uint64_t c = 0, f = 0; k + 8 <= n; k += 8) {
    memcpy(&c, cell + k, 8);
    memcpy(&f, from + k, 8);
    c &= f;
    memcpy(cell + k, &c, 8);
  }
  for (; k < n; ++k) cell[k] = static_cast<uint8_t>(cell[k] & from[k]);
}

bool not_erased(uint8_t c) { return c != 0xFF; }

}  // namespace

// calloc, not new: the table's memory is only taken from the system where a
// page is used, since untouched zero pages are not made.
Flash::Flash(uint8_t fill)
    : fill_(fill), slots_(static_cast<uint32_t*>(std::calloc(kPageCount, sizeof(uint32_t)))) {
  if (!slots_) throw std::bad_alloc();
  slabs_.reserve(kPageCount / kSlabPages);
  slabs_.emplace_back(new uint8_t[kSlabPages * kPageSize]);
}

uint8_t* Flash::stored(uint32_t slot) const {
  uint32_t page = slot - kStored;
  return slabs_[page / kSlabPages].get() + size_t{page % kSlabPages} * kPageSize;
}

uint32_t Flash::take_page() {
  if (free_page_ != kNever) {
    uint32_t slot = free_page_;
    memcpy(&free_page_, stored(slot), sizeof free_page_);
    return slot;
  }
  if (pages_made_ == slabs_.size() * kSlabPages) slabs_.emplace_back(new uint8_t[kSlabPages * kPageSize]);
  return kStored + pages_made_++;
}

// The page's first bytes link it to the pages given back before it.
void Flash::give_back(uint32_t slot) {
  memcpy(stored(slot), &free_page_, sizeof free_page_);
  free_page_ = slot;
}

// The bytes of page index, made (filled with what the page held) if needed.
uint8_t* Flash::writable(uint32_t index) {
  uint32_t& slot = slots_[index];
  if (slot >= kStored) return stored(slot);
  uint8_t was = slot == kErased ? 0xFF : fill_;
  slot = take_page();
  uint8_t* bytes = stored(slot);
  memset(bytes, was, kPageSize);
  return bytes;
}

void Flash::erase(uint32_t addr, uint64_t len) {
  uint64_t end = std::min(uint64_t{addr} + len, kAddressSpace);
  for (uint64_t a = addr; a < end;) {
    auto index = static_cast<uint32_t>(a / kPageSize);
    uint64_t in_page = a % kPageSize;
    uint64_t n = std::min(kPageSize - in_page, end - a);
    uint32_t& slot = slots_[index];
    if (n == kPageSize) {
      if (slot >= kStored) give_back(slot);
      slot = kErased;
    } else if (slot != kErased) {
      memset(writable(index) + in_page, 0xFF, n);
    }
    a += n;
  }
}

size_t Flash::program(uint32_t addr, std::string_view bytes, uint64_t* first_bad) {
  size_t bad = 0;
  const auto* from = reinterpret_cast<const uint8_t*>(bytes.data());
  uint64_t a = addr;
  uint64_t end = a + bytes.size();
  for (uint64_t n = 0; a < std::min(end, kAddressSpace); a += n, from += n) {
    uint64_t in_page = a % kPageSize;
    n = std::min(kPageSize - in_page, end - a);
    uint8_t* cell = writable(static_cast<uint32_t>(a / kPageSize)) + in_page;
    if (!all_erased(cell, n)) {
      if (bad == 0 && first_bad) *first_bad = a + static_cast<uint64_t>(std::find_if(cell, cell + n, not_erased) - cell);
      bad += static_cast<size_t>(std::count_if(cell, cell + n, not_erased));
    }
    clear_bits(cell, from, n);
  }
  if (a < end) {  // past the end of the address space
    if (bad == 0 && first_bad) *first_bad = a;
    bad += static_cast<size_t>(end - a);
  }
  return bad;
}

std::vector<uint8_t> Flash::read(uint32_t addr, size_t len) const {
  uint64_t end = std::min(uint64_t{addr} + len, kAddressSpace);
  std::vector<uint8_t> out(static_cast<size_t>(end - addr));
  uint8_t* to = out.data();
  for (uint64_t a = addr, n = 0; a < end; a += n, to += n) {
    uint64_t in_page = a % kPageSize;
    n = std::min(kPageSize - in_page, end - a);
    uint32_t slot = slots_[a / kPageSize];
    if (slot >= kStored) {
      memcpy(to, stored(slot) + in_page, n);
    } else {
      memset(to, slot == kErased ? 0xFF : fill_, n);
    }
  }
  return out;
}

}  // namespace sim
