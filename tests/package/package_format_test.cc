#include "package/package_format.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "package/package_writer.h"

namespace {

// ---- Little-endian helpers, against literal bytes.

TEST(LittleEndianTest, ReadsLiteralBytes) {
  const uint8_t magic[] = {0xD0, 0x47, 0x9B, 0x1B};
  const uint8_t minus_one[] = {0xFF, 0xFF, 0xFF, 0xFF};
  const uint8_t int_min[] = {0x00, 0x00, 0x00, 0x80};
  const uint8_t mixed[] = {0x01, 0x02, 0x03, 0x04};
  EXPECT_EQ(get_le32(magic), 0x1B9B47D0u);
  EXPECT_EQ(get_le32(magic), kPtMagic);
  EXPECT_EQ(get_le32(minus_one), 0xFFFFFFFFu);
  EXPECT_EQ(get_le32_signed(minus_one), -1);
  EXPECT_EQ(get_le32_signed(int_min), INT32_MIN);
  EXPECT_EQ(get_le32(mixed), 0x04030201u);
  EXPECT_EQ(get_le32_signed(mixed), 0x04030201);
  EXPECT_EQ(get_le16(mixed), 0x0201);
  const uint8_t high_byte[] = {0x00, 0x01};
  EXPECT_EQ(get_le16(high_byte), 256);  // a framed record of length 256
}

TEST(LittleEndianTest, WritesLiteralBytes) {
  uint8_t out[6] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
  put_le32(out + 1, kPtMagic);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{0xEE, 0xD0, 0x47, 0x9B, 0x1B, 0xEE}));
  put_le16(out + 1, 0x0101);
  EXPECT_EQ(std::vector<uint8_t>(out, out + 6), (std::vector<uint8_t>{0xEE, 0x01, 0x01, 0x9B, 0x1B, 0xEE}));
  put_le32(out, static_cast<uint32_t>(-2));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{0xFE, 0xFF, 0xFF, 0xFF}));
}

// ---- Header and record accessors over bytes placed at literal offsets, so
// that a wrong named offset cannot agree with itself.

class HeaderTest : public ::testing::Test {
 protected:
  void put(int offset, const std::vector<uint8_t>& bytes) { memcpy(h + offset, bytes.data(), bytes.size()); }
  void put_text(int offset, const char* text) { memcpy(h + offset, text, strlen(text)); }

  PackageState pkg;
  PtHeader& h = pkg.pt_header;
};

TEST_F(HeaderTest, ReadsHeaderFields) {
  put(0, {0xD0, 0x47, 0x9B, 0x1B});
  put(4, {0x34, 0x12, 0x00, 0x00});
  put(8, {2, 0, 0xFF, 7});
  put(39, {19});
  put_text(40, "DEV");
  EXPECT_EQ(pt_magic(h), kPtMagic);
  EXPECT_EQ(pt_b_argument(h), 0x1234u);
  EXPECT_EQ(pt_run_order_entry(h, 0), 2);
  EXPECT_EQ(pt_run_order_entry(h, 1), 0);
  EXPECT_EQ(pt_run_order_entry(h, 2), 0xFF);
  EXPECT_EQ(pt_run_order_entry(h, 3), 7);
  EXPECT_EQ(pt_run_order_entry(h, 31), 19);
  char code[9];
  pt_device_code(h, code);
  EXPECT_STREQ(code, "DEV");
  put_text(40, "DEVCODE8");  // all 8 bytes, no NUL: the next field must not leak in
  h[48] = 'X';
  pt_device_code(h, code);
  EXPECT_STREQ(code, "DEVCODE8");
}

TEST_F(HeaderTest, DecodesRecordTwo) {
  const int rec = 48 + 96 * 2;  // 240
  put_text(rec + 0, "2.05");
  put_text(rec + 32, "HW3");
  h[rec + 40] = 0x83;
  h[rec + 41] = 0xFF;
  put_text(rec + 42, "SYST:BOOT");
  put_text(rec + 67, ":BOOT");
  put(rec + 92, {0x10, 0x01, 0x00, 0x00});
  SectionRecord r = pt_record(h, 2);
  EXPECT_STREQ(r.boot_version, "2.05");
  EXPECT_STREQ(r.kind, "HW3");
  EXPECT_EQ(r.flags, 0x83);
  EXPECT_EQ(r.binary, -1);
  EXPECT_STREQ(r.jump_command, "SYST:BOOT");
  EXPECT_STREQ(r.command_header, ":BOOT");
  EXPECT_EQ(r.length, 0x110u);
  EXPECT_EQ(pt_section_length(h, 2), 0x110u);
  EXPECT_EQ(pt_record(h, 1).length, 0u);
  EXPECT_EQ(pt_record(h, 3).flags, 0);
}

TEST_F(HeaderTest, FullWidthTextsStayInsideTheirFields) {
  // The last record, every text filled to its width without a NUL, and
  // non-zero bytes behind each: the decoded texts end at the field's width.
  const int rec = 48 + 96 * 19;
  memset(h + rec, 'A', 32);
  memset(h + rec + 32, 'B', 8);
  h[rec + 40] = 'C';
  h[rec + 41] = 'D';
  memset(h + rec + 42, 'E', 25);
  memset(h + rec + 67, 'F', 25);
  put(rec + 92, {'G', 'H', 'I', 'J'});
  SectionRecord r = pt_record(h, 19);
  EXPECT_EQ(std::string(r.boot_version), std::string(32, 'A'));
  EXPECT_EQ(std::string(r.kind), std::string(8, 'B'));
  EXPECT_EQ(std::string(r.jump_command), std::string(25, 'E'));
  EXPECT_EQ(std::string(r.command_header), std::string(25, 'F'));
  EXPECT_EQ(r.length, 0x4A494847u);
}

struct KindCase {
  uint8_t flags;
  SectionKind kind;
  int mode;
};

TEST(SectionKindTest, FromFlags) {
  const KindCase cases[] = {
      {0xFF, SectionKind::kCommand, 0x7F},  // mode unused for command sections
      {0x80, SectionKind::kBinary, 0},      {0x83, SectionKind::kBinary, 3},
      {0xFE, SectionKind::kBinary, 0x7E},   {0x00, SectionKind::kFramed, 0},
      {0x03, SectionKind::kFramed, 3},      {0x05, SectionKind::kFramed, 5},
      {0x7F, SectionKind::kFramed, 0x7F},
  };
  for (const KindCase& c : cases) {
    EXPECT_EQ(section_kind(c.flags), c.kind) << "flags " << int{c.flags};
    EXPECT_EQ(section_mode(c.flags), c.mode) << "flags " << int{c.flags};
  }
}

// ---- Data offsets.

TEST_F(HeaderTest, OffsetsCountEveryRecordAndSkipEmptyOnes) {
  put(48 + 92, {10, 0, 0, 0});                // record 0: 10 bytes
  put(48 + 96 * 2 + 92, {5, 0, 0, 0});        // record 2: 5 bytes; record 1 is empty
  put(48 + 96 * 19 + 92, {0, 1, 0, 0});       // record 19: 256 bytes, ends the file
  int64_t d[kSectionCount];
  EXPECT_TRUE(pt_data_offsets(h, d));
  EXPECT_EQ(d[0], 1968);
  EXPECT_EQ(d[1], 1978);
  EXPECT_EQ(d[2], 1978);  // record 1 takes no bytes
  EXPECT_EQ(d[3], 1983);
  EXPECT_EQ(d[19], 1983);
}

TEST_F(HeaderTest, OffsetsBeyondSignedRangeAreReportedNotWrapped) {
  put(48 + 92, {0xFF, 0xFF, 0xFF, 0xFF});
  int64_t d[kSectionCount];
  EXPECT_FALSE(pt_data_offsets(h, d));
  EXPECT_EQ(d[1], 1968 + int64_t{0xFFFFFFFF});
  EXPECT_EQ(d[19], 1968 + int64_t{0xFFFFFFFF});

  put_le32(h + 48 + 92, static_cast<uint32_t>(INT32_MAX - 1968));  // D(1) = 2^31 - 1 exactly
  EXPECT_TRUE(pt_data_offsets(h, d));
  EXPECT_EQ(d[1], INT32_MAX);
  put_le32(h + 48 + 92, static_cast<uint32_t>(INT32_MAX - 1968 + 1));
  EXPECT_FALSE(pt_data_offsets(h, d));
  EXPECT_EQ(d[1], int64_t{INT32_MAX} + 1);
}

TEST(DataOffsetTest, RunOrderDoesNotMoveTheData) {
  // Run order 2, 0, 0xFF: section 2 runs first, but its data still lies after
  // that of sections 0 and 1; the empty record 1 takes no bytes.
  PackagePlan plan;
  plan.run_order = {2, 0};
  plan.sections[0] = command_section("mcmd", "ZERO");
  plan.sections[2] = command_section("scmd", "TWO!!");
  std::vector<uint8_t> file;
  std::string error;
  ASSERT_TRUE(build_package(plan, &file, &error)) << error;
  PackageState pkg;
  memcpy(pkg.pt_header, file.data(), kPtHeaderSize);
  EXPECT_EQ(pt_run_order_entry(pkg.pt_header, 0), 2);
  EXPECT_EQ(pt_run_order_entry(pkg.pt_header, 1), 0);
  EXPECT_EQ(pt_run_order_entry(pkg.pt_header, 2), 0xFF);
  int64_t d[kSectionCount];
  ASSERT_TRUE(pt_data_offsets(pkg.pt_header, d));
  EXPECT_EQ(d[0], 1968);
  EXPECT_EQ(d[1], 1972);
  EXPECT_EQ(d[2], 1972);
  EXPECT_EQ(d[3], 1977);
  EXPECT_EQ(std::string(file.begin() + d[2], file.begin() + d[2] + 5), "TWO!!");
  EXPECT_EQ(file.size(), 1977u);
}

// ---- Binary sub-header.

TEST(BinHeaderTest, DecodesFourSignedFields) {
  const uint8_t bytes[16] = {0x00, 0x01, 0x00, 0x00,   // start 0x100
                             0xFF, 0x03, 0x00, 0x00,   // end 0x3FF
                             0x80, 0x00, 0x00, 0x00,   // chunk 0x80
                             0xFF, 0xFF, 0xFF, 0xFF};  // step -1
  BinHeader b = decode_bin_header(bytes);
  EXPECT_EQ(b.start_address, 0x100);
  EXPECT_EQ(b.end_address, 0x3FF);
  EXPECT_EQ(b.chunk_size, 0x80);
  EXPECT_EQ(b.erase_step, -1);
}

TEST(FramedPrefixTest, OnlyTheFourPrefixes) {
  std::string accepted;
  for (int c = 0; c < 256; ++c) {
    if (is_framed_prefix(static_cast<uint8_t>(c))) accepted.push_back(static_cast<char>(c));
  }
  EXPECT_EQ(accepted, "%&*^");
}

}  // namespace
