#include "package/package_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "package/package_trailer.h"
#include "package/package_writer.h"
#include "support/temp_dir.h"

bool operator==(const PackageCheck& a, const PackageCheck& b) {
  return a.fault == b.fault && a.section == b.section && a.entry == b.entry && a.field == b.field;
}

void PrintTo(const PackageCheck& c, std::ostream* os) {
  *os << "{" << package_fault_text(c.fault) << ", section " << c.section << ", entry " << c.entry << ", field "
      << c.field << "}";
}

namespace {

using Bytes = std::vector<uint8_t>;

// The valid package the refusals are cut from. Data in file order: section 0
// "mcmd", 1 binary, 2 "scmd", 3 framed (last, so that cutting the file cuts
// its records); record 5 is empty; the run order names 0, 1, 2, 3.
PackagePlan valid_plan() {
  PackagePlan plan;
  plan.b_argument = 0x1234;
  plan.device_code = "DEV1";
  plan.run_order = {0, 1, 2, 3};
  plan.sections[0] = command_section("mcmd", "*RST");
  SectionPlan bin = binary_section(BinHeader{0x100, 0x3FF, 0x80, 0x100}, Bytes(0x100, 0x5A));
  bin.boot_version = "2.05";
  bin.kind = "HW3";
  bin.jump_command = "SYST:BOOT";
  bin.command_header = ":BOOT";
  plan.sections[1] = bin;
  plan.sections[2] = command_section("scmd", "DELAY 10");
  plan.sections[3] = framed_section(
      {record_line("&t$"), record_line("&e@00001000$"), record_line("^d#0A1B$"), record_line("&q$")}, 1);
  return plan;
}

Bytes build(const PackagePlan& plan) {
  Bytes file;
  std::string error;
  EXPECT_TRUE(build_package(plan, &file, &error)) << error;
  return file;
}

// File offsets of the fixture package, spelled out as the layout gives them.
constexpr int kSec0 = 1968;             // "*RST"
constexpr int kSec1 = kSec0 + 4;        // 16-byte sub-header + 0x100 image
constexpr int kSec2 = kSec1 + 16 + 0x100;  // "DELAY 10"
constexpr int kSec3 = kSec2 + 8;        // records of 2 + 3, 2 + 8, 2 + 6 and 2 + 3 bytes
constexpr int kRecE = kSec3 + 5;        // "&e@00001000$"
constexpr int kRecD = kRecE + 10;       // "^d#0A1B$"
constexpr int kRecQ = kRecD + 8;        // "&q$"
constexpr int kFileSize = kRecQ + 5;
constexpr int rec(int r, int offset) { return 48 + 96 * r + offset; }

// Validates file through a FILE*, as the runner does. The runner reads the
// header into pt_header, which keeps the previous package's bytes where a
// short file gives none; start from the valid header to show that.
PackageCheck validate_bytes(const Bytes& file) {
  Bytes valid = build(valid_plan());
  PackageState pkg;
  memcpy(pkg.pt_header, valid.data(), kPtHeaderSize);
  memcpy(pkg.pt_header, file.data(), std::min<size_t>(file.size(), kPtHeaderSize));
  TempDir dir;
  std::string path = dir.write("p.pt", std::string(file.begin(), file.end()));
  FILE* f = std::fopen(path.c_str(), "rb");
  EXPECT_NE(f, nullptr);
  PackageCheck result = validate_package(pkg.pt_header, f);
  std::fclose(f);
  return result;
}

PackageCheck ok() { return PackageCheck{}; }
PackageCheck fault(PtFault f, int section, int entry, int field = -1) {
  PackageCheck c;
  c.fault = f;
  c.section = section;
  c.entry = entry;
  c.field = field;
  return c;
}

TEST(PackageCheckTest, FixtureLayoutIsAsSpelledOut) {
  Bytes file = build(valid_plan());
  ASSERT_EQ(file.size(), static_cast<size_t>(kFileSize));
  EXPECT_EQ(std::string(file.begin() + kSec0, file.begin() + kSec0 + 4), "*RST");
  EXPECT_EQ(std::string(file.begin() + kSec2, file.begin() + kSec2 + 8), "DELAY 10");
  EXPECT_EQ(file[kSec3 + 2], '&');
  EXPECT_EQ(file[kRecQ + 3], 'q');
  EXPECT_EQ(validate_bytes(file), ok());
}

// One byte-surgery case: what is done to the valid package, and the result.
struct SurgeryCase {
  const char* name;
  std::function<void(Bytes&)> cut;
  PackageCheck expected;
};

class PackageSurgeryTest : public ::testing::TestWithParam<SurgeryCase> {};

TEST_P(PackageSurgeryTest, GivesExactResult) {
  Bytes file = build(valid_plan());
  GetParam().cut(file);
  EXPECT_EQ(validate_bytes(file), GetParam().expected);
}

// The integrity trailer over the same bytes changes no result, the valid
// package's included: every other check is made over the bytes before the
// trailer, and no section's data reaches into it (a framed section cut
// short does not read the trailer as records).
TEST_P(PackageSurgeryTest, GivesTheSameResultWithATrailerOverTheSameBytes) {
  Bytes file = build(valid_plan());
  GetParam().cut(file);
  append_package_trailer(&file);
  EXPECT_EQ(validate_bytes(file), GetParam().expected);
}

TEST(PackageTrailerCheck, SectionsAreTheSameWithTheTrailer) {
  Bytes plain = build(valid_plan());
  Bytes with = plain;
  append_package_trailer(&with);
  PackageState pkg;
  memcpy(pkg.pt_header, plain.data(), kPtHeaderSize);
  MemoryPackageSource plain_source(plain.data(), plain.size()), with_source(with.data(), with.size());
  PackageReport a = check_package(pkg.pt_header, plain_source), b = check_package(pkg.pt_header, with_source);
  EXPECT_TRUE(a.faults.empty());
  EXPECT_TRUE(b.faults.empty());
  EXPECT_EQ(a.trailer.state, TrailerState::kAbsent);
  EXPECT_EQ(b.trailer.state, TrailerState::kValid);
  EXPECT_EQ(b.file_size, a.file_size + kTrailerSize);
  ASSERT_EQ(a.sections.size(), b.sections.size());
  for (size_t i = 0; i < a.sections.size(); ++i) {
    EXPECT_EQ(a.sections[i].offset, b.sections[i].offset);
    EXPECT_EQ(a.sections[i].records, b.sections[i].records);
    EXPECT_EQ(a.sections[i].text, b.sections[i].text);
    EXPECT_EQ(a.sections[i].complete, b.sections[i].complete);
  }
  // With the trailer required (--strict), only the package without one is refused.
  EXPECT_EQ(validate_package(pkg.pt_header, plain_source, true), fault(PtFault::kNoTrailer, -1, -1));
  EXPECT_EQ(validate_package(pkg.pt_header, with_source, true), ok());
}

void set32(Bytes& f, int at, uint32_t v) { put_le32(f.data() + at, v); }
void fill(Bytes& f, int at, int n, char c) { memset(f.data() + at, c, static_cast<size_t>(n)); }

INSTANTIATE_TEST_SUITE_P(
    Refusals, PackageSurgeryTest,
    ::testing::Values(
        // Header.
        SurgeryCase{"CutInsideHeader", [](Bytes& f) { f.resize(1967); }, fault(PtFault::kShortHeader, -1, -1)},
        SurgeryCase{"CutToMagicOnly", [](Bytes& f) { f.resize(4); }, fault(PtFault::kShortHeader, -1, -1)},
        SurgeryCase{"MagicLastByte", [](Bytes& f) { f[3] = 0x1C; }, fault(PtFault::kBadMagic, -1, -1)},
        SurgeryCase{"MagicFirstByte", [](Bytes& f) { f[0] = 0xD1; }, fault(PtFault::kBadMagic, -1, -1)},
        SurgeryCase{"RunOrderTwenty", [](Bytes& f) { f[9] = 20; }, fault(PtFault::kBadRunOrder, -1, 1)},
        SurgeryCase{"RunOrder254", [](Bytes& f) { f[8] = 254; }, fault(PtFault::kBadRunOrder, -1, 0)},
        SurgeryCase{"RunOrderTwentyAfterEnd", [](Bytes& f) { f[13] = 20; }, ok()},
        SurgeryCase{"RunOrderEmptyAndDataCut", [](Bytes& f) { f[8] = 0xFF; f.resize(kSec1 + 3); }, ok()},
        SurgeryCase{"DeviceCodeFullWidth", [](Bytes& f) { fill(f, 40, 8, 'D'); }, ok()},
        // Text fields without their NUL, where the section reads them.
        SurgeryCase{"BinaryBootVersion", [](Bytes& f) { fill(f, rec(1, 0), 32, '2'); },
                    fault(PtFault::kTextNoNul, 1, 1, 0)},
        SurgeryCase{"BinaryHardware", [](Bytes& f) { fill(f, rec(1, 32), 8, 'H'); },
                    fault(PtFault::kTextNoNul, 1, 1, 32)},
        SurgeryCase{"BinaryJumpCommand", [](Bytes& f) { fill(f, rec(1, 42), 25, 'J'); },
                    fault(PtFault::kTextNoNul, 1, 1, 42)},
        SurgeryCase{"FramedCommandHeader", [](Bytes& f) { fill(f, rec(3, 67), 25, 'C'); },
                    fault(PtFault::kTextNoNul, 3, 3, 67)},
        SurgeryCase{"CommandKind", [](Bytes& f) { fill(f, rec(0, 32), 8, 'm'); },
                    fault(PtFault::kTextNoNul, 0, 0, 32)},
        SurgeryCase{"CommandJumpUnused", [](Bytes& f) { fill(f, rec(0, 42), 25, 'J'); }, ok()},
        SurgeryCase{"JumpCommandOfWidthMinusOne", [](Bytes& f) { fill(f, rec(1, 42), 24, 'J'); }, ok()},
        SurgeryCase{"UnnamedRecordGarbage", [](Bytes& f) { fill(f, rec(7, 0), 92, 'Z'); }, ok()},
        SurgeryCase{"NamedEmptyRecordGarbage",
                    [](Bytes& f) { f[12] = 5; fill(f, rec(5, 0), 92, 'Z'); }, ok()},
        // Placement against the file and the signed 32-bit range.
        SurgeryCase{"CutLastByte", [](Bytes& f) { f.pop_back(); }, fault(PtFault::kNoQuitRecord, 3, 3)},
        SurgeryCase{"CutInsideImage", [](Bytes& f) { f.resize(kSec2 - 1); }, fault(PtFault::kPastEnd, 1, 1)},
        SurgeryCase{"CutInsideCommand", [](Bytes& f) { f.resize(kSec0 + 3); }, fault(PtFault::kPastEnd, 0, 0)},
        SurgeryCase{"CutAtFramedStart", [](Bytes& f) { f.resize(kSec3); }, fault(PtFault::kPastEnd, 3, 3)},
        SurgeryCase{"CommandOffsetOverflow", [](Bytes& f) { set32(f, rec(0, 92), 0x7FFFFFFF); },
                    fault(PtFault::kOffsetOverflow, 0, 0)},
        SurgeryCase{"BinaryEndsBeyondSignedRange", [](Bytes& f) { set32(f, rec(1, 92), 0xFFFFFFF0); },
                    fault(PtFault::kOffsetOverflow, 1, 1)},
        // Command sections.
        SurgeryCase{"CommandOver1999", [](Bytes& f) { set32(f, rec(0, 92), 2000); },
                    fault(PtFault::kCommandTooLong, 0, 0)},
        // Binary sections.
        SurgeryCase{"BinaryFifteenBytes", [](Bytes& f) { set32(f, rec(1, 92), 15); },
                    fault(PtFault::kBinaryTooShort, 1, 1)},
        SurgeryCase{"ChunkZero", [](Bytes& f) { set32(f, kSec1 + 8, 0); }, fault(PtFault::kChunkEndless, 1, 1)},
        SurgeryCase{"ChunkNegative", [](Bytes& f) { set32(f, kSec1 + 8, 0xFFFFFFFF); },
                    fault(PtFault::kChunkEndless, 1, 1)},
        // The "l" command "&l#100$" has an odd digit count: the framing refuses it.
        SurgeryCase{"Chunk0x100RefusedByTheFraming", [](Bytes& f) { set32(f, kSec1 + 8, 0x100); },
                    fault(PtFault::kCommandRefused, 1, 1)},
        SurgeryCase{"BArgumentOfFiveDigits", [](Bytes& f) { set32(f, 4, 0x12345); },
                    fault(PtFault::kCommandRefused, 1, 1)},
        SurgeryCase{"BinaryInModeFour", [](Bytes& f) { f[rec(1, 40)] = 0x84; }, fault(PtFault::kEntryMode, 1, 1)},
        SurgeryCase{"Chunk0xFFFFSmallImage", [](Bytes& f) { set32(f, kSec1 + 8, 0xFFFF); }, ok()},
        SurgeryCase{"EraseStepZero", [](Bytes& f) { set32(f, kSec1 + 12, 0); }, fault(PtFault::kEraseEndless, 1, 1)},
        SurgeryCase{"EraseStepNegative", [](Bytes& f) { set32(f, kSec1 + 12, 0xFFFFFF00); },
                    fault(PtFault::kEraseEndless, 1, 1)},
        SurgeryCase{"EraseStepZeroStartAboveEnd",
                    [](Bytes& f) { set32(f, kSec1 + 12, 0); set32(f, kSec1, 0x400); }, ok()},
        SurgeryCase{"EraseStepZeroStartIsEnd",
                    [](Bytes& f) { set32(f, kSec1 + 12, 0); set32(f, kSec1, 0x3FF); },
                    fault(PtFault::kEraseEndless, 1, 1)},
        // Framed sections.
        SurgeryCase{"QuitLetterChanged", [](Bytes& f) { f[kRecQ + 3] = 'x'; },
                    fault(PtFault::kNoQuitRecord, 3, 3)},
        SurgeryCase{"QuitRecordCutOff", [](Bytes& f) { f.resize(kRecQ); },
                    fault(PtFault::kNoQuitRecord, 3, 3)},
        SurgeryCase{"RecordLengthPastFile", [](Bytes& f) { f[kRecQ] = 4; },
                    fault(PtFault::kNoQuitRecord, 3, 3)},
        // What the streamer would refuse only after the sections before.
        SurgeryCase{"RecordLength257", [](Bytes& f) { f[kRecE] = 0x01; f[kRecE + 1] = 0x01; },
                    fault(PtFault::kRecordLength, 3, 3)},
        SurgeryCase{"RecordLengthOne", [](Bytes& f) { f[kRecE] = 1; }, fault(PtFault::kRecordLength, 3, 3)},
        SurgeryCase{"RecordPrefixHash", [](Bytes& f) { f[kRecE + 2] = '#'; f[kRecQ + 3] = 'x'; },
                    fault(PtFault::kRecordPrefix, 3, 3)},
        SurgeryCase{"RecordOfNoCommandLetter", [](Bytes& f) { f[kRecD + 3] = 'z'; },
                    fault(PtFault::kCommandRefused, 3, 3)},
        SurgeryCase{"RecordWithOddMarker", [](Bytes& f) { f[kRecD + 4] = 'X'; },
                    fault(PtFault::kCommandRefused, 3, 3)},
        SurgeryCase{"FramedTransferInModeFive", [](Bytes& f) { f[rec(3, 40)] = 5; }, fault(PtFault::kEntryMode, 3, 3)},
        SurgeryCase{"FramedWithoutTransferInModeFive",
                    [](Bytes& f) { f[rec(3, 40)] = 5; f[kSec3 + 3] = 'x'; }, ok()},
        SurgeryCase{"CommandKindOther", [](Bytes& f) { f[rec(2, 32)] = 'x'; }, fault(PtFault::kCommandKind, 2, 2)},
        // Records may run past the section's length, not past the file.
        SurgeryCase{"FramedLengthShorterThanRecords", [](Bytes& f) { set32(f, rec(3, 92), 1); }, ok()},
        SurgeryCase{"QuitWithAnyPrefix",
                    [](Bytes& f) { f[kRecD + 2] = '%'; f[kRecD + 3] = 'q'; f[kRecQ + 3] = 'x'; }, ok()}),
    [](const ::testing::TestParamInfo<SurgeryCase>& info) { return std::string(info.param.name); });

// ---- Cases that need a package of their own: one section, run order {0}.

Bytes binary_package(BinHeader h, size_t image_size) {
  PackagePlan plan;
  plan.run_order = {0};
  plan.sections[0] = binary_section(h, Bytes(image_size, 0x11));
  return build(plan);
}

struct BinCase {
  const char* name;
  BinHeader header;
  size_t image_size;
  PtFault fault;
};

TEST(BinarySectionCheckTest, SubHeaderLimits) {
  const BinCase cases[] = {
      {"SubHeaderOnlyChunkZero", {0, 0xFF, 0, 0x100}, 0, PtFault::kNone},
      {"SubHeaderOnlyChunkNegative", {0, 0xFF, -1, 0x100}, 0, PtFault::kChunkEndless},
      {"ChunkZeroOneByte", {0, 0xFF, 0, 0x100}, 1, PtFault::kChunkEndless},
      {"Chunk255", {0, 0xFF, 255, 0x100}, 2000, PtFault::kNone},
      // Chunk sizes whose "l" command the framing refuses (odd digit count).
      {"Chunk0x100", {0, 0xFF, 0x100, 0x100}, 2000, PtFault::kCommandRefused},
      {"Chunk0x10000", {0, 0xFF, 0x10000, 0x100}, 2000, PtFault::kCommandRefused},
      // An even digit count passes the "l" command: data commands must fit.
      {"Chunk0x1000Image984", {0, 0xFF, 0x1000, 0x100}, 984, PtFault::kNone},
      {"Chunk0x1000Image985", {0, 0xFF, 0x1000, 0x100}, 985, PtFault::kChunkOverflow},
      {"Chunk0x100000Image2000", {0, 0xFF, 0x100000, 0x100}, 2000, PtFault::kChunkOverflow},
      // Erase addresses must pass the end address without wrapping round.
      {"EraseStepsPastEndBelowIntMax", {0x7FFFFF00, 0x7FFFFF7F, 0x1, 0x80}, 0, PtFault::kNone},
      {"EraseStepsToIntMaxExactly", {0x7FFFFF00, 0x7FFFFF7F, 0x1, 0xFF}, 0, PtFault::kNone},
      {"EraseStepWrapsPastIntMax", {0x7FFFFF00, 0x7FFFFFFF, 0x1, 0x100}, 0, PtFault::kEraseEndless},
      {"EraseEndIntMaxStepOne", {0, 0x7FFFFFFF, 0x1, 1}, 0, PtFault::kEraseEndless},
      {"EraseEndIntMaxStartAbove", {0x7FFFFFFF, 0x7FFFFFFE, 0x1, 0}, 0, PtFault::kNone},
      // Start above the end: one erase, then a step down must not land at or below the end.
      {"StartAboveEndStepUp", {0x200, 0x100, 0x1, 0x100}, 0, PtFault::kNone},
      {"StartAboveEndStepDownStaysAbove", {0x200, 0x100, 0x1, -0xFF}, 0, PtFault::kNone},
      {"StartAboveEndStepDownToEnd", {0x200, 0x100, 0x1, -0x100}, 0, PtFault::kEraseEndless},
      {"StartAboveEndStepDownPastEnd", {0x70552220, 0x69746164, 0x1, -553647616}, 0, PtFault::kEraseEndless},
      {"StartAboveEndStepIntMin", {0x200, 0x100, 0x1, INT32_MIN}, 0, PtFault::kEraseEndless},
      {"NegativeAddressesCompareSigned", {-0x200, -0x100, 0x1, 0x100}, 0, PtFault::kNone},
  };
  for (const BinCase& c : cases) {
    Bytes file = binary_package(c.header, c.image_size);
    PackageState pkg;
    memcpy(pkg.pt_header, file.data(), kPtHeaderSize);
    MemoryPackageSource source(file.data(), file.size());
    PackageCheck expected = c.fault == PtFault::kNone ? ok() : fault(c.fault, 0, 0);
    EXPECT_EQ(validate_package(pkg.pt_header, source), expected) << c.name;
  }
}

TEST(CommandSectionCheckTest, LongestCommandIs1999Bytes) {
  for (size_t size : {size_t{1999}, size_t{2000}}) {
    PackagePlan plan;
    plan.run_order = {4};
    plan.sections[4] = command_section("mcmd", std::string(size, 'x'));
    Bytes file = build(plan);
    PackageCheck expected = size == 1999 ? ok() : fault(PtFault::kCommandTooLong, 4, 0);
    EXPECT_EQ(validate_bytes(file), expected) << size;
  }
}

// ---- The reading itself.

// A source over memory that records every read and can fail on demand.
class RecordingSource : public PackageSource {
 public:
  explicit RecordingSource(const Bytes& bytes) : bytes_(bytes), memory_(bytes_.data(), bytes_.size()) {}
  int64_t size() override { return size_; }
  bool read(int64_t offset, uint8_t* out, size_t n) override {
    ++reads;
    largest = std::max(largest, n);
    if (fail_reads) return false;
    return memory_.read(offset, out, n);
  }
  int64_t size_ = 0;
  bool fail_reads = false;
  int reads = 0;
  size_t largest = 0;

 private:
  Bytes bytes_;
  MemoryPackageSource memory_;
};

TEST(PackageReadTest, ReadsOnlySmallPiecesAndReportsReadFailures) {
  Bytes file = build(valid_plan());
  PackageState pkg;
  memcpy(pkg.pt_header, file.data(), kPtHeaderSize);

  RecordingSource source(file);
  source.size_ = static_cast<int64_t>(file.size());
  EXPECT_EQ(validate_package(pkg.pt_header, source), ok());
  // The last 16 bytes (is there an integrity trailer?), the two command
  // texts, the sub-header, and per record its length and its bytes.
  EXPECT_EQ(source.reads, 1 + 2 + 1 + 2 * 4);
  EXPECT_LE(source.largest, 16u);

  RecordingSource failing(file);
  failing.size_ = static_cast<int64_t>(file.size());
  failing.fail_reads = true;
  EXPECT_EQ(validate_package(pkg.pt_header, failing), fault(PtFault::kReadError, -1, -1));

  RecordingSource unsized(file);
  unsized.size_ = -1;
  EXPECT_EQ(validate_package(pkg.pt_header, unsized), fault(PtFault::kReadError, -1, -1));
}

TEST(PackageReadTest, LeavesTheFileWhereItWas) {
  Bytes file = build(valid_plan());
  file[kRecQ + 3] = 'x';  // the walk reads up to the end of the file
  TempDir dir;
  std::string path = dir.write("p.pt", std::string(file.begin(), file.end()));
  FILE* f = std::fopen(path.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  PackageState pkg;
  ASSERT_EQ(std::fread(pkg.pt_header, 1, kPtHeaderSize, f), static_cast<size_t>(kPtHeaderSize));
  EXPECT_EQ(validate_package(pkg.pt_header, f), fault(PtFault::kNoQuitRecord, 3, 3));
  EXPECT_EQ(std::ftell(f), kPtHeaderSize);
  EXPECT_EQ(std::feof(f), 0);
  // The caller seeks to a section and reads it, as the runner does.
  ASSERT_EQ(std::fseek(f, kSec2, SEEK_SET), 0);
  char text[9] = {};
  EXPECT_EQ(std::fread(text, 1, 8, f), 8u);
  EXPECT_STREQ(text, "DELAY 10");
  std::fclose(f);
}

}  // namespace
