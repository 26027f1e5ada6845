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

// Past the first slab of pages, and pages that a whole-page erase gave back
// and that another address then takes: each must hold exactly its own bytes.
TEST(SimFlashPages, PagesGivenBackServeOtherAddresses) {
  sim::Flash flash(0x00);
  Bytes image(0x200000);  // 2 MiB: more than the slab made with the flash
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / 4096);
  std::string_view bytes(reinterpret_cast<const char*>(image.data()), image.size());
  uint64_t first_bad = 0;
  flash.erase(0, image.size());
  EXPECT_EQ(flash.program(0, bytes, &first_bad), 0u);
  EXPECT_EQ(flash.read(0, image.size()), image);

  flash.erase(0, 0x100000);  // the first MiB's pages go back
  EXPECT_EQ(flash.read(0, 0x100000), Bytes(0x100000, 0xFF));
  // Never erased, so every byte is reported, and the pages taken back read as
  // the fill byte ANDed with the data, not as what they held before.
  Bytes ones(0x100000, 0xF0);
  EXPECT_EQ(flash.program(0x80000000, std::string_view(reinterpret_cast<const char*>(ones.data()), ones.size()),
                          &first_bad),
            0x100000u);
  EXPECT_EQ(first_bad, 0x80000000u);
  EXPECT_EQ(flash.read(0x80000000, 0x100000), Bytes(0x100000, 0x00));
  EXPECT_EQ(flash.read(0x100000, 0x100000), Bytes(image.begin() + 0x100000, image.end()));
}

TEST(SimFlashPages, BytesPastTheEndOfTheAddressSpaceAreRefused) {
  sim::Flash flash(0x00);
  flash.erase(0xFFFFF000, 0x2000);  // cut at the end
  uint64_t first_bad = 0;
  EXPECT_EQ(flash.program(0xFFFFFFFE, "\x01\x02\x03\x04", &first_bad), 2u);
  EXPECT_EQ(first_bad, uint64_t{1} << 32);
  EXPECT_EQ(flash.read(0xFFFFFFFD, 8), (Bytes{0xFF, 0x01, 0x02}));
}

}  // namespace
