// The simulated flash on its own: pages erased whole are only remembered as
// erased until written, and must read, program and erase like any other.
#include "visa/sim/flash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(SimFlashPages, WholePageErasesBehaveLikeByteErases) {
  sim::Flash flash(0x5A);
  flash.erase(0x1000, 0x3000);  // pages 1, 2, 3 whole
  EXPECT_EQ(flash.read(0x0FFF, 3), (Bytes{0x5A, 0xFF, 0xFF}));
  EXPECT_EQ(flash.read(0x3FFF, 2), (Bytes{0xFF, 0x5A}));

  uint64_t first_bad = 0;
  EXPECT_EQ(flash.program(0x2000, "\x12\x34", &first_bad), 0u);
  EXPECT_EQ(flash.read(0x1FFF, 4), (Bytes{0xFF, 0x12, 0x34, 0xFF}));

  // Writing again where it was written clears bits only, and says so.
  EXPECT_EQ(flash.program(0x2000, "\xFF\x30", &first_bad), 2u);
  EXPECT_EQ(first_bad, 0x2000u);
  EXPECT_EQ(flash.read(0x2000, 2), (Bytes{0x12, 0x30}));

  // A part of a written page, then the whole page again.
  flash.erase(0x2001, 1);
  EXPECT_EQ(flash.read(0x2000, 2), (Bytes{0x12, 0xFF}));
  flash.erase(0x2000, 0x1000);
  EXPECT_EQ(flash.read(0x2000, 2), (Bytes{0xFF, 0xFF}));
  EXPECT_EQ(flash.program(0x2FFF, std::string_view("\x00", 1), &first_bad), 0u);
  EXPECT_EQ(flash.read(0x2FFE, 3), (Bytes{0xFF, 0x00, 0xFF}));
}

TEST(SimFlashPages, ErasingTheWholeAddressSpaceIsCheap) {
  sim::Flash flash(0x00);
  for (uint64_t addr = 0; addr < (uint64_t{1} << 32); addr += 0x1000000) {
    flash.erase(static_cast<uint32_t>(addr), 0x1000000);  // 1 Mi pages of 4 KiB: 4 GiB if kept whole
  }
  EXPECT_EQ(flash.read(0xFFFFFFFE, 4), (Bytes{0xFF, 0xFF}));
  uint64_t first_bad = 0;
  EXPECT_EQ(flash.program(0x12345678, "\xAB", &first_bad), 0u);
  EXPECT_EQ(flash.read(0x12345677, 3), (Bytes{0xFF, 0xAB, 0xFF}));
}

}  // namespace
