#include "package/package_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "package/package_check.h"
#include "package/package_description.h"
#include "support/run_binary.h"
#include "package/package_trailer.h"
#include "support/temp_dir.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes slice(const Bytes& b, size_t at, size_t n) { return Bytes(b.begin() + at, b.begin() + at + n); }
// The bytes of a string literal, embedded NULs included, without its own final NUL.
template <size_t N>
Bytes text_bytes(const char (&s)[N]) {
  return Bytes(s, s + N - 1);
}

// ---- Command lines to raw records, against literal bytes.

struct LineCase {
  const char* line;
  Bytes raw;  // empty: the line is refused
};

TEST(FramedLineTest, EncodesOrRefuses) {
  const LineCase cases[] = {
      {"&t$", {0x26, 0x74, 0x24}},
      {"&x$", {0x26, 0x78, 0x24}},
      {"&e@00001000$", {0x26, 0x65, 0x40, 0x00, 0x00, 0x10, 0x00, 0x24}},
      {"^d#0A1B$", {0x5E, 0x64, 0x23, 0x0A, 0x1B, 0x24}},
      {"%d#0a1b$", {0x25, 0x64, 0x23, 0x0A, 0x1B, 0x24}},  // either case
      {"*w#$", {0x2A, 0x77, 0x23, 0x24}},                  // marker, empty payload
      {"#z#FF$", {0x23, 0x7A, 0x23, 0xFF, 0x24}},          // prefix and letter as written
      {"&t", {}},
      {"", {}},
      {"&t$\r", {}},       // nothing may follow the '$'
      {"&w#123$", {}},     // odd digit count
      {"&w#12", {}},       // no '$'
      {"&w#", {}},
      {"&wX12$", {}},      // no marker
      {"&w#1G$", {}},      // not a hex digit
      {"&w#12$34$", {}},   // text after the '$'
  };
  for (const LineCase& c : cases) {
    Bytes out = {0xAA};
    std::string error;
    bool encoded = encode_framed_line(c.line, &out, &error);
    if (c.raw.empty()) {
      EXPECT_FALSE(encoded) << c.line;
      EXPECT_EQ(out, Bytes{0xAA}) << c.line;  // nothing appended on a refusal
      EXPECT_FALSE(error.empty()) << c.line;
    } else {
      EXPECT_TRUE(encoded) << c.line << ": " << error;
      Bytes expected = {0xAA};
      expected.insert(expected.end(), c.raw.begin(), c.raw.end());
      EXPECT_EQ(out, expected) << c.line;
    }
  }
}

TEST(FramedRecordsTest, LengthPrefixesNulAndRawRecords) {
  std::vector<FramedRecordPlan> records = {
      record_line("&t$"),
      record_line("&q$", true),
      record_raw({0x26, 0x64, 0x24}, 0x0101),  // a lying length: 257
      record_raw(Bytes(256, 0x26)),
  };
  Bytes out;
  std::string error;
  ASSERT_TRUE(encode_framed_records(records, &out, &error)) << error;
  Bytes expected = {0x03, 0x00, 0x26, 0x74, 0x24,         // &t$
                    0x04, 0x00, 0x26, 0x71, 0x24, 0x00,   // &q$ and its counted NUL
                    0x01, 0x01, 0x26, 0x64, 0x24,         // length 257, 3 bytes follow
                    0x00, 0x01};                          // 256
  expected.insert(expected.end(), 256, 0x26);
  EXPECT_EQ(out, expected);

  Bytes untouched;
  EXPECT_FALSE(encode_framed_records({record_line("&t$"), record_line("&w#1$")}, &untouched, &error));
  EXPECT_NE(error.find("record 1"), std::string::npos) << error;
}

// ---- Whole packages.

PackagePlan sample_plan() {
  PackagePlan plan;
  plan.b_argument = 0x00ABCDEF;
  plan.device_code = "DEV1";
  plan.run_order = {2, 0, 1};
  plan.sections[0] = command_section("mcmd", "*RST");
  SectionPlan bin = binary_section(BinHeader{0x100, 0x3FF, 0x80, -1}, {0xDE, 0xAD}, 3);
  bin.boot_version = "2.05";
  bin.kind = "HW3";
  bin.binary_flag = -1;
  bin.jump_command = "SYST:BOOT";
  bin.command_header = ":BOOT";
  plan.sections[1] = bin;
  plan.sections[4] = framed_section({record_line("&t$"), record_line("&q$")}, 2);
  return plan;
}

Bytes build(const PackagePlan& plan) {
  Bytes out;
  std::string error;
  EXPECT_TRUE(build_package(plan, &out, &error)) << error;
  return out;
}

TEST(BuildPackageTest, LaysOutHeaderRecordsAndData) {
  Bytes p = build(sample_plan());
  ASSERT_EQ(p.size(), 1968u + 4 + 18 + 10);
  EXPECT_EQ(slice(p, 0, 4), (Bytes{0xD0, 0x47, 0x9B, 0x1B}));
  EXPECT_EQ(slice(p, 4, 4), (Bytes{0xEF, 0xCD, 0xAB, 0x00}));
  Bytes order(32, 0xFF);
  order[0] = 2;
  order[1] = 0;
  order[2] = 1;
  EXPECT_EQ(slice(p, 8, 32), order);
  EXPECT_EQ(slice(p, 40, 8), (Bytes{'D', 'E', 'V', '1', 0, 0, 0, 0}));

  // Record 0, a command section: kind, flags 0xFF, length 4.
  EXPECT_EQ(slice(p, 48 + 32, 5), text_bytes("mcmd\0"));
  EXPECT_EQ(p[48 + 40], 0xFF);
  EXPECT_EQ(slice(p, 48 + 92, 4), (Bytes{4, 0, 0, 0}));
  // Record 1, binary: every field at its offset; flags 0x80 | mode 3.
  const int r1 = 48 + 96;
  EXPECT_EQ(slice(p, r1, 5), text_bytes("2.05\0"));
  EXPECT_EQ(slice(p, r1 + 32, 4), text_bytes("HW3\0"));
  EXPECT_EQ(p[r1 + 40], 0x83);
  EXPECT_EQ(p[r1 + 41], 0xFF);
  EXPECT_EQ(slice(p, r1 + 42, 10), text_bytes("SYST:BOOT\0"));
  EXPECT_EQ(slice(p, r1 + 67, 6), text_bytes(":BOOT\0"));
  EXPECT_EQ(slice(p, r1 + 92, 4), (Bytes{18, 0, 0, 0}));
  // Records 2 and 3 are empty; record 4, framed: flags = mode 2, 10 bytes.
  EXPECT_EQ(slice(p, 48 + 96 * 2, 192), Bytes(192, 0));
  EXPECT_EQ(p[48 + 96 * 4 + 40], 0x02);
  EXPECT_EQ(slice(p, 48 + 96 * 4 + 92, 4), (Bytes{10, 0, 0, 0}));

  // Data in record order, whatever the run order.
  EXPECT_EQ(slice(p, 1968, 4), text_bytes("*RST"));
  EXPECT_EQ(slice(p, 1972, 18), (Bytes{0x00, 0x01, 0x00, 0x00, 0xFF, 0x03, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00,
                                       0xFF, 0xFF, 0xFF, 0xFF, 0xDE, 0xAD}));
  EXPECT_EQ(slice(p, 1990, 10), (Bytes{3, 0, '&', 't', '$', 3, 0, '&', 'q', '$'}));
}

TEST(BuildPackageTest, ReadsBackThroughTheFormat) {
  Bytes p = build(sample_plan());
  PackageState pkg;
  memcpy(pkg.pt_header, p.data(), kPtHeaderSize);
  SectionRecord r = pt_record(pkg.pt_header, 1);
  EXPECT_STREQ(r.jump_command, "SYST:BOOT");
  EXPECT_EQ(r.binary, -1);
  EXPECT_EQ(section_kind(r.flags), SectionKind::kBinary);
  EXPECT_EQ(section_mode(r.flags), 3);
  MemoryPackageSource source(p.data(), p.size());
  // The erase step of -1 with start below end is refused: the writer writes
  // what it is told, the check finds it.
  PackageCheck check = validate_package(pkg.pt_header, source);
  EXPECT_EQ(check.fault, PtFault::kEraseEndless);
  EXPECT_EQ(check.section, 1);
}

TEST(BuildPackageTest, EscapeHatchesForCorruptPackages) {
  PackagePlan plan = sample_plan();
  plan.magic = 0x11223344;
  plan.sections[0]->length = 0x7FFFFFFF;  // stored, while the 4 bytes are still written
  plan.sections[0]->flags = 0x42;
  plan.sections[5] = raw_section({1, 2, 3}, 0x01);
  plan.trailer = {0xEE, 0xFF};
  plan.patches = {{48 + 96 * 1 + 42, Bytes(25, 'J')}, {8, {20}}};
  Bytes p = build(plan);
  EXPECT_EQ(slice(p, 0, 4), (Bytes{0x44, 0x33, 0x22, 0x11}));
  EXPECT_EQ(slice(p, 48 + 92, 4), (Bytes{0xFF, 0xFF, 0xFF, 0x7F}));
  EXPECT_EQ(p[48 + 40], 0x42);
  EXPECT_EQ(p[48 + 96 * 5 + 40], 0x01);
  EXPECT_EQ(slice(p, 48 + 96 * 1 + 42, 26), [] { Bytes b(25, 'J'); b.push_back(':'); return b; }());
  EXPECT_EQ(p[8], 20);
  EXPECT_EQ(slice(p, p.size() - 5, 5), (Bytes{1, 2, 3, 0xEE, 0xFF}));
}

struct BadPlanCase {
  const char* name;
  void (*change)(PackagePlan&);
  const char* error_part;
};

TEST(BuildPackageTest, RefusesWhatCannotBeLaidOut) {
  const BadPlanCase cases[] = {
      {"DeviceCodeNine", [](PackagePlan& s) { s.device_code = "123456789"; }, "device_code"},
      {"RunOrder33", [](PackagePlan& s) { s.run_order.assign(33, 0); }, "run order"},
      {"BootVersion32", [](PackagePlan& s) { s.sections[1]->boot_version.assign(32, '1'); }, "section 1: boot_version"},
      {"Kind8", [](PackagePlan& s) { s.sections[0]->kind = "mcmdmcmd"; }, "section 0: kind"},
      {"Jump25", [](PackagePlan& s) { s.sections[1]->jump_command.assign(25, 'j'); }, "section 1: jump_command"},
      {"Header25", [](PackagePlan& s) { s.sections[1]->command_header.assign(25, 'h'); }, "command_header"},
      {"Mode128", [](PackagePlan& s) { s.sections[4]->mode = 128; }, "section 4: mode"},
      {"BadRecordLine", [](PackagePlan& s) { s.sections[4]->records.push_back(record_line("&w#1$")); },
       "section 4: record 2"},
      {"PatchPastEnd", [](PackagePlan& s) { s.patches = {{2000, Bytes(1, 0)}}; },
       "patch"},
  };
  for (const BadPlanCase& c : cases) {
    PackagePlan plan = sample_plan();
    c.change(plan);
    Bytes out = {0x55};
    std::string error;
    EXPECT_FALSE(build_package(plan, &out, &error)) << c.name;
    EXPECT_NE(error.find(c.error_part), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(out, Bytes{0x55}) << c.name;
  }
  // At the limits everything fits.
  PackagePlan plan = sample_plan();
  plan.device_code = "12345678";
  plan.run_order.assign(32, 0);
  plan.sections[1]->boot_version.assign(31, '1');
  plan.sections[1]->jump_command.assign(24, 'j');
  Bytes out;
  std::string error;
  EXPECT_TRUE(build_package(plan, &out, &error)) << error;
  EXPECT_EQ(slice(out, 8, 32), Bytes(32, 0));
}

// ---- Descriptions and the tmpack tool.

constexpr char kDescription[] = R"(# A package of three sections.
[package]
b_argument = 0xABCDEF
device_code = DEV1
run_order = 2, 0 1

[section 0]
type = command
kind = mcmd
text = *RST\n

[section 1]
type = binary
boot_version = 2.05
hardware = HW3
mode = 3
binary_flag = -1
jump_command = SYST:BOOT
command_header = :BOOT
start = 0x100
end = 0x3FF
chunk = 0x80
erase_step = 0xFFFFFFFF
image_file = image.bin

[section 4]
type = framed
mode = 2
; records in order
record = &t$
record_nul = &q$
record_raw = 26 64 24
record_length = 257
)";

PackagePlan description_plan() {
  PackagePlan plan = sample_plan();
  plan.sections[0]->text = "*RST\n";
  plan.sections[4]->records = {record_line("&t$"), record_line("&q$", true), record_raw({0x26, 0x64, 0x24}, 257)};
  return plan;
}

TEST(PackageDescriptionTest, ParsesToTheSamePlan) {
  PackagePlan parsed;
  std::string error;
  auto load = [](const std::string& path, Bytes* bytes) {
    if (path != "image.bin") return false;
    *bytes = {0xDE, 0xAD};
    return true;
  };
  ASSERT_TRUE(parse_package_description(kDescription, load, &parsed, &error)) << error;
  EXPECT_EQ(build(parsed), build(description_plan()));
}

struct BadDescriptionCase {
  const char* text;
  const char* error;
};

TEST(PackageDescriptionTest, RefusesWithLineNumbers) {
  const BadDescriptionCase cases[] = {
      {"magic = 1\n", "line 1: key \"magic\" before any [package] or [section N]"},
      {"[package]\n\nmagic = 0x1FFFFFFFF\n", "line 3: \"0x1FFFFFFFF\" is not a number in 0 .. 4294967295"},
      {"[package]\nrun_order = 1 x\n", "line 2: \"x\" is not a number in 0 .. 255"},
      {"[package]\nsize = 1\n", "line 2: unknown key \"size\" in [package]"},
      {"[section 20]\n", "line 1: unknown block [section 20]; expected [package] or [section 0] .. [section 19]"},
      {"[section 1]\nkind = mcmd\n", "line 2: the first key of a section must be type"},
      {"[section 1]\n[section 2]\n", "line 2: section 1 has no type"},
      {"[section 1]\n", "line 1: section 1 has no type"},
      {"[section 1]\ntype = command\n[section 1]\n", "line 3: section 1 is described twice"},
      {"[section 1]\ntype = flash\n", "line 2: type must be command, binary, framed or raw"},
      {"[section 1]\ntype = command\nchunk = 1\n", "line 3: key \"chunk\" does not belong in a section of this type"},
      {"[section 1]\ntype = framed\nrecord_length = 3\n", "line 3: record_length must follow the record it changes"},
      {"[section 1]\ntype = command\ntext = a\\q\n", "line 3: bad escape in \"a\\q\"; use \\\\ \\n \\r \\t or \\xHH"},
      {"[section 1]\ntype = binary\nimage_file = missing.bin\n", "line 3: cannot read \"missing.bin\""},
      {"[section 1]\ntype = raw\ndata_hex = 0G\n", "line 3: \"0G\" is not hex bytes"},
      {"[package]\nrun_order\n", "line 2: expected KEY = VALUE"},
  };
  auto no_files = [](const std::string&, Bytes*) { return false; };
  for (const BadDescriptionCase& c : cases) {
    PackagePlan plan;
    std::string error;
    EXPECT_FALSE(parse_package_description(c.text, no_files, &plan, &error)) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
}

TEST(PackageDescriptionTest, TextEscapesAndHexForms) {
  const char* text =
      "[section 0]\ntype = command\nkind = scmd\ntext = \\x20a\\\\b\\tc\\r\\n\n"
      "[section 1]\ntype = raw\nflags = 0xFF\ndata_hex = 0a,1B 2c3D\n";
  PackagePlan plan;
  std::string error;
  ASSERT_TRUE(parse_package_description(text, nullptr, &plan, &error)) << error;
  EXPECT_EQ(plan.sections[0]->text, " a\\b\tc\r\n");
  EXPECT_EQ(plan.sections[1]->data, (Bytes{0x0A, 0x1B, 0x2C, 0x3D}));
  EXPECT_EQ(plan.sections[1]->flags, 0xFF);
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the built tool; returns its exit status and fills err with what it
// printed (all of it on stderr).
int run_tmpack(const std::vector<std::string>& args, std::string* err) {
  std::string tool = built_program("tmpack");
  // The tests do not depend on the tool's target; a build of all targets makes it.
  if (!std::filesystem::exists(tool)) ADD_FAILURE() << "tmpack is not built: " << tool;
  BinaryRun run = run_program(tool, args);
  *err = run.errors;
  return run.status;
}

// The description's erase step of -1 would never end: the updater would
// refuse the package, so the tool writes nothing unless told to.
TEST(TmpackToolTest, RefusedPackageIsWrittenOnlyWhenAllowed) {
  TempDir dir;
  dir.write("image.bin", std::string("\xDE\xAD", 2));
  std::string description = dir.write("pkg.txt", kDescription);
  const std::string fault = "tmpack: " + description +
                            ": byte 1985 of the package: Corrupted Update File. (10-4): section 1: erase addresses "
                            "from 0x00000100 by step -0x1 never pass the end address 0x000003FF\n";
  std::string err;
  EXPECT_EQ(run_tmpack({description, dir.file("out.pt")}, &err), 1);
  EXPECT_EQ(err, fault + "tmpack: " + description +
                     ": nothing written: the updater would refuse this package (--allow-refused writes it all the "
                     "same)\n");
  EXPECT_FALSE(std::ifstream(dir.file("out.pt")).good());

  ASSERT_EQ(run_tmpack({"--allow-refused", description, dir.file("out.pt")}, &err), 0) << err;
  EXPECT_EQ(err, fault + "tmpack: " + description + ": written all the same (--allow-refused)\n");
  std::string out = read_all(dir.file("out.pt"));
  Bytes expected = build(description_plan());
  append_package_trailer(&expected);  // tmpack ends every package with it
  EXPECT_EQ(Bytes(out.begin(), out.end()), expected);
}

TEST(TmpackToolTest, ValidPackageGivesNoNote) {
  TempDir dir;
  std::string description = dir.write("pkg.txt",
                                      "[package]\nrun_order = 0\n[section 0]\ntype = framed\nrecord = &t$\n"
                                      "record = &q$\n");
  std::string err;
  ASSERT_EQ(run_tmpack({description, dir.file("out.pt")}, &err), 0) << err;
  EXPECT_EQ(err, "");
  EXPECT_EQ(read_all(dir.file("out.pt")).size(), 1968u + 10 + kTrailerSize);
}

TEST(TmpackToolTest, ReportsErrorsAndWritesNothing) {
  TempDir dir;
  std::string description = dir.write("bad.txt", "[package]\ndevice_code = TOO-LONG-CODE\n");
  std::string err;
  EXPECT_EQ(run_tmpack({description, dir.file("out.pt")}, &err), 1);
  EXPECT_EQ(err, "tmpack: " + description + ": device_code \"TOO-LONG-CODE\" is longer than 8 characters\n");
  EXPECT_FALSE(std::ifstream(dir.file("out.pt")).good());

  EXPECT_EQ(run_tmpack({description}, &err), 2);
  EXPECT_EQ(err, "tmpack: expected DESCRIPTION and PACKAGE (see tmpack --help)\n");
}

}  // namespace
