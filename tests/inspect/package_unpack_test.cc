// Taking packages apart: every package our writer made, and one made by
// hand byte by byte, unpacks to a description that tmpack builds back byte
// for byte; --info reports faults exactly as --check does.
#include "package/package_unpack.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "driver/check.h"
#include "package/package_description.h"
#include "package/package_format.h"
#include "package/package_info.h"
#include "package/package_trailer.h"
#include "package/package_writer.h"
#include "platform/native_path.h"
#include "support/recording_platform.h"
#include "support/temp_dir.h"
#include "support/text_files.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& text) { return Bytes(text.begin(), text.end()); }

void expect_round_trip(const Bytes& package, const std::string& what) {
  SCOPED_TRACE(what);
  PackageUnpack unpacked;
  std::string error;
  ASSERT_TRUE(unpack_package(package, "fw.pkg", &unpacked, &error)) << error;
  Bytes again;
  ASSERT_TRUE(rebuild_package(unpacked.description, unpacked.files, &again, &error)) << error;
  EXPECT_EQ(again, package) << unpacked.description;
}

// A description as tmpack builds it; image_file and data_file name files
// beside it in dir.
Bytes built(const std::string& description, const std::string& dir) {
  PackagePlan plan;
  std::string error;
  DescriptionFileLoader load = [&dir](const std::string& path, std::vector<uint8_t>* out) {
    std::string text = read_file(dir + "/" + path);
    out->assign(text.begin(), text.end());
    return std::filesystem::exists(dir + "/" + path);
  };
  EXPECT_TRUE(parse_package_description(description, load, &plan, &error)) << error;
  Bytes out;
  EXPECT_TRUE(build_package(plan, &out, &error)) << error;
  return out;
}

TEST(PackageUnpack, EveryPackageOurWriterMadeComesBackByteForByte) {
  std::string seeds = std::string(TMFLASH_FUZZ_DIR) + "/seeds/";
  for (const auto& entry : std::filesystem::directory_iterator(seeds + "package_description")) {
    expect_round_trip(built(read_file(entry.path().string()), seeds + "package_description"), name_of(entry.path()));
  }
  for (const auto& entry : std::filesystem::directory_iterator(seeds + "package")) {
    std::string bytes = read_file(entry.path().string()).substr(1);  // after the setup byte
    expect_round_trip(bytes_of(bytes), name_of(entry.path()));
  }
  std::string demo = std::string(TMFLASH_SOURCE_DIR) + "/examples/demo";
  expect_round_trip(built(read_file(demo + "/firmware.desc"), demo), "examples/demo/firmware.desc");
  Bytes built_demo = bytes_of(read_file(std::string(TMFLASH_BUILD_DIR) + "/demo/firmware.pkg"));
  ASSERT_FALSE(built_demo.empty());
  expect_round_trip(built_demo, "build/demo/firmware.pkg");
}

TEST(PackageUnpack, TheDemoUnpacksToAReadableDescriptionAndItsImage) {
  Bytes demo = bytes_of(read_file(std::string(TMFLASH_BUILD_DIR) + "/demo/firmware.pkg"));
  PackageUnpack unpacked;
  std::string error;
  ASSERT_TRUE(unpack_package(demo, "firmware.pkg", &unpacked, &error)) << error;
  EXPECT_EQ(unpacked.patches, 0);
  ASSERT_EQ(unpacked.files.size(), 1u);
  EXPECT_EQ(unpacked.files[0].name, "firmware.section1.bin");
  EXPECT_EQ(unpacked.files[0].bytes.size(), 96u);
  for (const char* line :
       {"device_code = TM1000\n", "run_order = 0, 1, 2\n", "kind = mcmd\n", "text = :DISP:TEXT \"Updating\"\n",
        "command_header = :FW:UPD\n", "image_file = firmware.section1.bin\n",
        "record = ^d#465047412062697473747265616D00$\n", "record = %q$\n", "#   tmpack firmware.desc firmware.pkg\n"}) {
    EXPECT_NE(unpacked.description.find(line), std::string::npos) << line << unpacked.description;
  }
}

// Field by field, with the format's offsets, no writer involved.
class HandMadePackage {
 public:
  HandMadePackage() : bytes_(kPtHeaderSize, 0) {
    put_le32(&bytes_[kMagicOffset], kPtMagic);
    put_le32(&bytes_[kBArgumentOffset], 0x123456);
    std::fill_n(&bytes_[kRunOrderOffset], kRunOrderSize, 0xFF);
  }
  void run_order(std::vector<uint8_t> order) { std::copy(order.begin(), order.end(), &bytes_[kRunOrderOffset]); }
  void at(size_t offset, const std::string& text) { std::copy(text.begin(), text.end(), &bytes_[offset]); }
  void record(int r, int offset, const std::string& text) { at(pt_record_offset(r, offset), text); }
  void flags(int r, uint8_t flags, int8_t binary = 0) {
    bytes_[pt_record_offset(r, kRecFlagsOffset)] = flags;
    bytes_[pt_record_offset(r, kRecBinaryOffset)] = static_cast<uint8_t>(binary);
  }
  // The data of record r, appended; length is what the record says.
  void data(int r, const std::string& data, uint32_t length) {
    put_le32(&bytes_[pt_record_offset(r, kRecLengthOffset)], length);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  Bytes bytes_;
};

std::string le16(uint16_t n) { return std::string{static_cast<char>(n & 0xFF), static_cast<char>(n >> 8)}; }

TEST(PackageUnpack, APackageMadeByHandUnpacksToADescriptionThatRebuildsIt) {
  HandMadePackage p;
  p.run_order({0, 1, 2, 3, 0xFF, 7});
  p.at(kDeviceCodeOffset, "FULLCODE");  // all 8 bytes, no NUL
  // A command section whose boot_version field has bytes after its NUL,
  // and whose text has bytes a line cannot hold as they are.
  p.flags(0, 0xFF);
  p.record(0, kRecKindOffset, "mcmd");
  p.record(0, kRecBootVersionOffset, std::string("1.0\0junk", 8));
  p.data(0, std::string(" a\tb\\\0\xFF\n ", 9), 9);
  // A binary section with a full-width jump command (no NUL).
  p.flags(1, 0x81, 1);
  p.record(1, kRecJumpOffset, std::string(kRecJumpSize, 'J'));
  std::string sub(16, '\0');
  put_le32(reinterpret_cast<uint8_t*>(&sub[0]), 0x1000);
  put_le32(reinterpret_cast<uint8_t*>(&sub[4]), 0x1FFF);
  put_le32(reinterpret_cast<uint8_t*>(&sub[8]), 4);
  put_le32(reinterpret_cast<uint8_t*>(&sub[12]), 0x1000);
  p.data(1, sub + "ABCDEFG", 23);
  // A framed section: a command line, one with a NUL, one of lower-case
  // letters that is no command line, a record of length 1, then the 'q'.
  p.flags(2, 0x02);
  p.data(2,
         le16(3) + "&t$" + le16(9) + std::string("&e@\0\0\x10\0$\0", 9) + le16(3) + "zz9" + le16(1) + "Q" +
             le16(3) + "%q$",
         29);
  // A binary flag with data shorter than a sub-header: no binary section.
  p.flags(3, 0x80);
  p.data(3, "xyz", 3);
  // A record the run order does not name, framed, whose data is cut inside
  // a record's length.
  p.flags(5, 0x00);
  p.data(5, le16(5) + "&x$" + std::string(1, '\x01'), 6);
  // The last section runs past the end of the file: its record says more.
  p.flags(7, 0xFF);
  p.record(7, kRecKindOffset, "scmd");
  p.data(7, "echo cut", 100);
  expect_round_trip(p.bytes_, "hand-made");

  PackageUnpack unpacked;
  std::string error;
  ASSERT_TRUE(unpack_package(p.bytes_, "hand.pkg", &unpacked, &error)) << error;
  for (const char* line : {"device_code = FULLCODE\n", "text = \\x20a\\tb\\\\\\x00\\xFF\\n\\x20\n", "type = raw\n",
                           "record_nul = &e@00001000$\n", "record_raw = 7A 7A 39\n", "record_length = 5\n",
                           "length = 100\n", "b_argument = 0x123456\n", "run_order = 0, 1, 2, 3, 255, 7\n"}) {
    EXPECT_NE(unpacked.description.find(line), std::string::npos) << line << unpacked.description;
  }
  EXPECT_EQ(unpacked.patches, 2);
  // The bytes after the NUL of a text, and the last byte of a text without
  // its NUL, which no key can say.
  EXPECT_NE(unpacked.description.find("patch = 52: 6A 75 6E 6B\n"), std::string::npos) << unpacked.description;
  EXPECT_NE(unpacked.description.find("patch = 210: 4A\n"), std::string::npos) << unpacked.description;

  // Bytes after the last section's data are kept as the trailer.
  HandMadePackage q;
  q.run_order({0});
  q.flags(0, 0xFF);
  q.record(0, kRecKindOffset, "scmd");
  q.data(0, "echo", 4);
  q.bytes_.insert(q.bytes_.end(), {0xDE, 0xAD});
  expect_round_trip(q.bytes_, "trailing bytes");
}

TEST(PackageUnpack, AnIntegrityTrailerThatHoldsIsWrittenAgainAnyOtherEndIsKept) {
  std::string demo = std::string(TMFLASH_SOURCE_DIR) + "/examples/demo";
  Bytes plain = built(read_file(demo + "/firmware.desc"), demo);
  Bytes sealed = plain;
  append_package_trailer(&sealed);
  Bytes damaged = sealed;
  damaged[2000] ^= 1;
  struct {
    const char* what;
    const Bytes& package;
    const char* says;       // in the description
    const char* info;       // in --info
  } cases[] = {
      {"trailer holds", sealed, "# Its integrity trailer holds; tmpack writes it again.\n", "trailer holds: CRC-32 0x"},
      {"no trailer", plain, "integrity_trailer = no\n", "no trailer: the run cannot verify it"},
      {"damaged", damaged, "trailer = 54 4D 50 4B 43 52 43 31", "trailer damaged: CRC-32 0x"},
  };
  for (const auto& c : cases) {
    expect_round_trip(c.package, c.what);
    PackageUnpack unpacked;
    std::string error;
    ASSERT_TRUE(unpack_package(c.package, "fw.pkg", &unpacked, &error)) << error;
    EXPECT_NE(unpacked.description.find(c.says), std::string::npos) << c.what << "\n" << unpacked.description;
    EXPECT_EQ(unpacked.description.find("integrity_trailer = no") == std::string::npos, &c.package == &sealed)
        << c.what;
    EXPECT_NE(describe_package(c.package, "fw.pkg").text.find(c.info), std::string::npos) << c.what;
  }
}

TEST(PackageUnpack, AFileShorterThanAHeaderIsNoPackage) {
  PackageUnpack unpacked;
  std::string error;
  EXPECT_FALSE(unpack_package(Bytes(100, 0), "short.pkg", &unpacked, &error));
  EXPECT_EQ(error, "the file is 100 bytes, shorter than a package's 1968-byte header");
}

// --info and --check name the faults of one package with the same words:
// both come from one walk.
TEST(PackageInfo, FaultsReadAsCheckReportsThem) {
  std::string demo_dir = std::string(TMFLASH_SOURCE_DIR) + "/examples/demo";
  std::string description = read_file(demo_dir + "/firmware.desc");
  description.replace(description.find("record = &e@00030000$"), 21, "record_raw = 26 65\nrecord_length = 1");
  Bytes bad = built(description, demo_dir);
  TempDir dir;
  std::string pkg = dir.write("bad.pkg", std::string(bad.begin(), bad.end()));
  std::string list = dir.write("bad.lst", "total=1\npt0=" + pkg + "\n");
  RecordingPlatform os;
  EXPECT_EQ(check_list(os, list.c_str()), 1);
  std::string fault_line;
  for (const std::string& line : lines_of(os.text())) {
    if (line.find(": fault [") != std::string::npos) fault_line = line;
  }
  ASSERT_FALSE(fault_line.empty()) << os.text();

  PackageInfo info = describe_package(bad, pkg);
  EXPECT_EQ(info.faults, 1);
  EXPECT_NE(info.text.find(fault_line + "\n"), std::string::npos) << fault_line << "\n" << info.text;
  EXPECT_NE(info.text.find("faults: 1; the updater would refuse this package:"), std::string::npos);
}

TEST(PackageInfo, SaysWhatEachSectionDoes) {
  Bytes demo = bytes_of(read_file(std::string(TMFLASH_BUILD_DIR) + "/demo/firmware.pkg"));
  PackageInfo info = describe_package(demo, "firmware.pkg");
  EXPECT_EQ(info.faults, 0);
  for (const char* line :
       {"package \"firmware.pkg\": 2173 bytes\n", "section 1, runs 2nd: binary section, entry mode 0, binary frames\n",
        "  addresses     0x00020000 .. 0x00021FFF, erase step 0x1000\n", "  writes        96 bytes at 0x00020000\n",
        "faults: none; the updater would run this package\n"}) {
    EXPECT_NE(info.text.find(line), std::string::npos) << line << info.text;
  }
  // A record that the run order does not name is still shown.
  HandMadePackage p;
  p.flags(4, 0xFF);
  p.record(4, kRecKindOffset, "scmd");
  p.data(4, "echo", 4);
  info = describe_package(p.bytes_, "idle.pkg");
  EXPECT_NE(info.text.find("section 4, not in the run order: command section \"scmd\" (run in the shell)"),
            std::string::npos)
      << info.text;
}

}  // namespace
