#include "package/package_trailer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

uint32_t crc_of(const std::string& text) {
  return crc32_update(0, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

TEST(Crc32, KnownValuesOfTheIeeeCrc) {
  EXPECT_EQ(crc_of(""), 0x00000000u);
  EXPECT_EQ(crc_of("123456789"), 0xCBF43926u);  // the check value of CRC-32/ISO-HDLC (zlib)
  EXPECT_EQ(crc_of("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  Bytes zeros(32, 0);
  EXPECT_EQ(crc32_update(0, zeros.data(), zeros.size()), 0x190A55ADu);
}

TEST(Crc32, PiecesGiveTheSameAsTheWhole) {
  std::string text = "The quick brown fox jumps over the lazy dog";
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
  uint32_t crc = crc32_update(0, p, 10);
  crc = crc32_update(crc, p + 10, text.size() - 10);
  EXPECT_EQ(crc, crc_of(text));
}

TEST(PackageTrailer, EncodesTheMarkerLengthAndCrcLittleEndian) {
  uint8_t out[kTrailerSize];
  encode_package_trailer(0x00000889, 0xCBF43926, out);
  const uint8_t expected[kTrailerSize] = {'T', 'M', 'P', 'K', 'C', 'R', 'C', '1',
                                          0x89, 0x08, 0x00, 0x00, 0x26, 0x39, 0xF4, 0xCB};
  EXPECT_EQ(0, memcmp(out, expected, kTrailerSize));
  PackageTrailer t;
  ASSERT_TRUE(decode_package_trailer(out, &t));
  EXPECT_EQ(t.covered_length, 0x889u);
  EXPECT_EQ(t.crc, 0xCBF43926u);
  out[7] = '2';
  EXPECT_FALSE(decode_package_trailer(out, &t));
}

TEST(PackageTrailer, AppendedTrailerCoversEverythingBeforeIt) {
  Bytes package = bytes_of("123456789");
  append_package_trailer(&package);
  ASSERT_EQ(package.size(), 9u + kTrailerSize);
  TrailerCheck c = check_package_trailer(package.data(), package.size());
  EXPECT_EQ(c.state, TrailerState::kValid);
  EXPECT_EQ(c.file_size, 25);
  EXPECT_EQ(c.data_size, 9);
  EXPECT_EQ(c.trailer.covered_length, 9u);
  EXPECT_EQ(c.trailer.crc, 0xCBF43926u);
  EXPECT_EQ(c.computed_crc, 0xCBF43926u);
}

// Each damage a copy can do, and what the check makes of it.
TEST(PackageTrailer, DamageIsFound) {
  Bytes good(3000);
  for (size_t i = 0; i < good.size(); ++i) good[i] = static_cast<uint8_t>(i * 7);
  append_package_trailer(&good);
  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    TrailerState state;
  };
  const Case cases[] = {
      {"untouched", [](Bytes&) {}, TrailerState::kValid},
      {"first byte flipped", [](Bytes& b) { b[0] ^= 0x01; }, TrailerState::kBadCrc},
      {"last covered byte flipped", [](Bytes& b) { b[b.size() - kTrailerSize - 1] ^= 0x80; }, TrailerState::kBadCrc},
      {"stored CRC flipped", [](Bytes& b) { b[b.size() - 1] ^= 0x10; }, TrailerState::kBadCrc},
      {"stored length changed", [](Bytes& b) { b[b.size() - 8] ^= 0x01; }, TrailerState::kBadLength},
      {"a byte cut from the middle", [](Bytes& b) { b.erase(b.begin() + 100); }, TrailerState::kBadLength},
      {"a byte added before the trailer", [](Bytes& b) { b.insert(b.begin() + 5, 0); }, TrailerState::kBadLength},
      {"cut inside the trailer", [](Bytes& b) { b.resize(b.size() - 3); }, TrailerState::kAbsent},
      {"trailer cut off", [](Bytes& b) { b.resize(b.size() - kTrailerSize); }, TrailerState::kAbsent},
      {"marker damaged", [](Bytes& b) { b[b.size() - kTrailerSize] = 'X'; }, TrailerState::kAbsent},
      {"shorter than a trailer", [](Bytes& b) { b.resize(kTrailerSize - 1); }, TrailerState::kAbsent},
      {"empty", [](Bytes& b) { b.clear(); }, TrailerState::kAbsent},
  };
  for (const Case& c : cases) {
    Bytes b = good;
    c.damage(b);
    TrailerCheck check = check_package_trailer(b.data(), b.size());
    EXPECT_EQ(check.state, c.state) << c.name << ": " << trailer_state_text(check.state);
    int64_t expected_data = c.state == TrailerState::kAbsent ? static_cast<int64_t>(b.size())
                                                              : static_cast<int64_t>(b.size()) - kTrailerSize;
    EXPECT_EQ(check.data_size, expected_data) << c.name;
  }
}

TEST(PackageTrailer, OverAnOpenFileTheCheckPutsThePositionBack) {
  Bytes package(10000, 0xA5);
  append_package_trailer(&package);
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(fwrite(package.data(), 1, package.size(), file), package.size());
  fseek(file, 1968, SEEK_SET);
  TrailerCheck c = check_package_trailer(file);
  EXPECT_EQ(c.state, TrailerState::kValid);
  EXPECT_EQ(ftell(file), 1968);
  EXPECT_EQ(feof(file), 0);
  fclose(file);
}

}  // namespace
