// Package jobs end to end: the run order, command sections and their
// sessions, failures part-way through, packages refused before anything
// reaches the instrument, and the bootloader handshake of a section.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/package_run.h"

namespace {

using Strings = std::vector<std::string>;

const std::string kFailedPackage = "Device is failed connected. (8)\\n\npause\n";
const std::string kUpdateOk = "<->\\nUpdate Ok\\n\n";

std::vector<uint8_t> le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// --- Run order -----------------------------------------------------------------

using RunOrder = PackageRun;

TEST_F(RunOrder, RepeatedEntryRunsItsSectionAgainFromTheStartOfItsData) {
  connect_one();
  PackagePlan p = plan({0, 1, 0});
  p.sections[0] = suited(binary_section({0x2000, 0x2000, 0x20, 0x1000}, pattern(0x30)));
  p.sections[1] = command_section("scmd", "echo between");
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  const Strings once = {"r", "b#0000", "v#00", "l#20", "e@00002000", "w@00002000", "d#32", "d#16", "x"};
  Strings twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(boot_commands(), twice);
  EXPECT_EQ(flash(0x2000, 0x30), pattern(0x30));
  EXPECT_TRUE(sim->bootloader(0).errors().empty());
  EXPECT_EQ(sim->jumps(0), 1u);  // the second run finds the bootloader running
  // The second run: the choice is reused, now reaching the bootloader.
  EXPECT_NE(os.log().find("<10>system cmd:echo between\\n\nshell echo between\n<13>select 0:" + kBootA +
                          "\\n\n" + progress("25.00") + "<->main *IDN = boot,TM1000,SIM0001,2.05\\n\\n\n"
                          "<->Bootloader version=2.05#0#HW3\\n\n" + progress("75.00") + progress("100.00") + kUpdateOk),
            std::string::npos)
      << os.log();
}

TEST_F(RunOrder, SectionsRunInRunOrderNotRecordOrderAndEmptyRecordsAreSkipped) {
  connect_unchecked();
  PackagePlan p = plan({2, 1, 0, 3});
  p.sections[0] = command_section("scmd", "echo zero");
  p.sections[1] = command_section("scmd", "");  // length 0: named, but never runs
  p.sections[2] = command_section("scmd", "echo two");
  p.sections[3] = command_section("scmd", "DELAY 250");
  write_package(p);

  EXPECT_EQ(run_package(), 0);
  EXPECT_EQ(os.log(), updating() + first_dialogue() +
                          "<10>system cmd:echo two\\n\nshell echo two\n"
                          "<10>system cmd:echo zero\\n\nshell echo zero\n"
                          "<10>system cmd:DELAY 250\\n\nsleep 250\n" + kUpdateOk);
}

TEST_F(RunOrder, EmptyRunOrderRunsNothingButStillChecksTheInstrument) {
  connect_unchecked();
  PackagePlan p = plan({});
  p.sections[0] = command_section("scmd", "echo never");
  write_package(p);
  EXPECT_EQ(run_package(), 0);
  EXPECT_EQ(os.log(), updating() + first_dialogue() + kUpdateOk);
  EXPECT_EQ(writes(), (Strings{"*idn?\n", "syst:info?\n"}));

  // An instrument that does not suit the package stops it all the same.
  p.device_code = "OTHER";
  write_package(p);
  connect_unchecked();
  os.clear();
  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(os.log(), updating() + first_dialogue() + "<12>Corrupted Update File. (9-1)\\n" + kFailedPackage);
  EXPECT_EQ(sim->open_handles(), 0u);
}

// --- Command sections and sessions -------------------------------------------

using CommandSections = PackageRun;

// mcmd, firmware, scmd: the instrument is opened once for the check, once for
// the command, once for the firmware section (the reconnect inside its
// handshake is an open of the same session, not a new resource manager).
TEST_F(CommandSections, EachStepOpensAndClosesItsOwnSessionAndTheShellRunsWithNone) {
  connect_unchecked();
  size_t handles_during_shell = 99;
  os.on_shell = [&](const std::string&) {
    handles_during_shell = sim->open_handles();
    return 0;
  };
  PackagePlan p = plan({0, 1, 2});
  p.sections[0] = command_section("mcmd", ":SYST:BEEP ON");
  p.sections[1] = suited(binary_section({0, 0, 0x10, 0x1000}, pattern(0x10)));
  p.sections[2] = command_section("scmd", "echo done");
  write_package(p);

  EXPECT_EQ(run_package(), 0);
  EXPECT_EQ(calls("viOpenDefaultRM"), 3u);
  EXPECT_EQ(calls("viOpen"), 4u);  // check, command, section, reconnect
  EXPECT_EQ(handles_during_shell, 0u);
  EXPECT_EQ(sim->open_handles(), 0u);
  EXPECT_EQ(sim->machine_commands(0), Strings{":SYST:BEEP ON"});
  EXPECT_EQ(flash(0, 0x10), pattern(0x10));
  EXPECT_EQ(os.log(), updating() + first_dialogue() + "<10>machine cmd::SYST:BEEP ON\\n\n" +
                          "<13>select 0:" + kMainA + "\\nselect 0:" + kMainA + "\\n\n" + progress("50.00") +
                          mode0_handshake() + progress("100.00") +
                          "<10>system cmd:echo done\\n\nshell echo done\n" + kUpdateOk);
  // The machine command goes out unchanged, without a line end and unread.
  EXPECT_EQ(writes()[2], ":SYST:BEEP ON");
}

// A kind that is neither is refused before the instrument is opened.
TEST_F(CommandSections, OnlyTheFirstFourCharactersOfTheKindCount) {
  auto refused = [this](const char* kind) {
    return "<12>Corrupted Update File. (10-6)\\n\nstderr<14>tmflash: " + path +
           ": byte 80: section 0: a command section of kind \"" + kind + "\"; only mcmd and scmd exist\\n\n<12>" +
           kFailedPackage;
  };
  struct {
    const char* kind;
    bool accepted;
    std::string shown;  // the log after the check's dialogue, when accepted
  } cases[] = {
      {"mcmdXYZ", true, "<10>machine cmd:*CLS\\n\n<13>select 0:" + kMainA + "\\n\n" + kUpdateOk},
      {"scmd2", true, "<10>system cmd:*CLS\\n\nshell *CLS\n" + kUpdateOk},
      {"MCMD", false, ""},
      {"mcm", false, ""},
      {"", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.kind);
    connect_unchecked();
    os.clear();
    PackagePlan p = plan({0});
    p.sections[0] = command_section(c.kind, "*CLS");
    write_package(p);
    EXPECT_EQ(run_package(), c.accepted ? 0 : 1);
    EXPECT_EQ(os.log(), updating() + (c.accepted ? first_dialogue() + c.shown : refused(c.kind)));
    EXPECT_EQ(sim->machine_commands(0), c.kind[0] == 'm' && c.accepted ? Strings{"*CLS"} : Strings{});
    if (!c.accepted) {
      EXPECT_TRUE(sim->transcript().empty());
    }
    EXPECT_EQ(sim->open_handles(), 0u);
  }
}

TEST_F(CommandSections, FailureInTheThirdSectionKeepsTheFirstTwoAndRunsNoMore) {
  sim::SimConfig config = unchecked_config();
  config.instruments.back().faults.wrong_echo_at = {9};  // the framed section's e command
  connect(std::move(config));
  PackagePlan p = plan({0, 1, 2, 3});
  p.sections[0] = command_section("mcmd", "*RST");
  p.sections[1] = suited(binary_section({0, 0, 0x10, 0x1000}, pattern(0x20)));
  p.sections[2] = suited(framed_section({record_line("&t$"), record_line("&e@00008000$"),
                                         record_line("&w@00008000$"), record_line("&d#AA$"), record_line("&q$")}));
  p.sections[3] = command_section("scmd", "echo never");
  write_package(p);

  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(sim->machine_commands(0), Strings{"*RST"});
  EXPECT_EQ(flash(0, 0x20), pattern(0x20));
  EXPECT_TRUE(sim->bootloader(0).image_complete());
  EXPECT_EQ(boot_commands().back(), "e@00008000");
  EXPECT_EQ(flash(0x8000, 1), std::vector<uint8_t>{0xFF});  // erased, never written
  EXPECT_TRUE(os.log().ends_with("<12>Corrupted Update File. (10-5)\\n" + kFailedPackage)) << os.log();
  EXPECT_EQ(os.log().find("echo never"), std::string::npos);
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(CommandSections, FailedOpenOrWriteOfACommandIsReportedOnceThenEight) {
  struct {
    const char* what;
    bool open_fails;  // else the write fails
    std::string tail;
  } cases[] = {
      {"open", true,
       "<13>select 0:" + kMainA + "\\n\n<12>Device is failed connected. (7)\\n\npause\n<12>" + kFailedPackage},
      {"write", false,
       "<13>select 0:" + kMainA + "\\n\n<12>Device is failed connected. (5)\\n" + kFailedPackage},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimConfig config = unchecked_config();
    // The second open is the command's; the third write is the command
    // (after "*idn?" and "syst:info?").
    if (c.open_fails) {
      config.faults.fail_open = {2};
    } else {
      config.faults.fail_write = {3};
    }
    connect(std::move(config));
    os.clear();
    PackagePlan p = plan({0, 1});
    p.sections[0] = command_section("mcmd", "*RST");
    p.sections[1] = command_section("scmd", "echo never");
    write_package(p);
    EXPECT_EQ(run_package(), 1);
    EXPECT_EQ(os.log(), updating() + first_dialogue() + "<10>machine cmd:*RST\\n\n" + c.tail);
    EXPECT_EQ(sim->open_handles(), 0u);
  }
}

TEST_F(CommandSections, PackageThatCannotBeOpenedIsFiveWithoutEight) {
  connect_one();
  path = dir.file("missing.pt");
  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(os.log(), "<12>Corrupted Update File. (5)\\n\nstderr<14>tmflash: " + path +
                          ": cannot open: No such file or directory\\n\npause\n");
  EXPECT_TRUE(sim->transcript().empty());
}

// The instrument chosen at the check is the one every section opens.
TEST_F(CommandSections, InstrumentChosenAtTheCheckServesEverySection) {
  sim::SimConfig config = unchecked_config();
  config.instruments.push_back(instrument(kMainB, ""));
  config.instruments.back().name = "sim1";
  config.instruments.back().syst_info = "-1#SIM1000#\n";
  connect(std::move(config));
  PackagePlan p = plan({0, 1});
  p.sections[0] = command_section("mcmd", "*RST");
  p.sections[1] = command_section("mcmd", "*CLS");
  write_package(p);
  os.answer({"1"});
  EXPECT_EQ(run_list("total=1\npt0=" + path + "\n"), 0);
  EXPECT_EQ(os.log(), updating() + "<11>USB:LIST\\n\n<13> 0:" + kMainA + "\\n 1:" + kMainB +
                          "\\n\n<9> 2:Search again\\n\n<11>please select:\ninput 1\n<13>select 1:" + kMainB +
                          "\\n\n<10>machine cmd:*RST\\n\n<13>select 1:" + kMainB +
                          "\\n\n<10>machine cmd:*CLS\\n\n<13>select 1:" + kMainB + "\\n\n" + kUpdateOk);
  EXPECT_EQ(sim->machine_commands(1), (Strings{"*RST", "*CLS"}));
  EXPECT_TRUE(sim->machine_commands(0).empty());
}

// The choice made inside a package is not handed back to the job runner.
TEST_F(CommandSections, JobAfterAPackageAsksForTheInstrumentAgain) {
  connect_unchecked();
  PackagePlan p = plan({0});
  p.sections[0] = command_section("mcmd", "*RST");
  write_package(p);
  os.answer({"0", "0"});
  EXPECT_EQ(run_list("total=2\npt0=" + path + "\nmcmd1=*CLS\n"), 0);
  EXPECT_EQ(os.log(), updating() + first_dialogue() + "<10>machine cmd:*RST\\n\n<13>select 0:" + kMainA + "\\n\n" +
                          "<10>machine cmd:*CLS\\n\n" + first_dialogue() + kUpdateOk);
}

// --- Packages refused before the instrument is opened --------------------------

// A valid package: a command section, a binary section and a framed
// section, in that record order and run order, the framed one last in the file.
struct BasePackage {
  static constexpr uint32_t kCommandData = 1968;
  static constexpr uint32_t kCommandLength = 7;  // "echo hi"
  static constexpr uint32_t kBinaryData = kCommandData + kCommandLength;
  static constexpr uint32_t kImage = 1000;
  static constexpr uint32_t kBinaryLength = 16 + kImage;
  static constexpr uint32_t kFramedData = kBinaryData + kBinaryLength;
  static constexpr uint32_t kFramedLength = 5 + 10 + 10 + 8 + 5 + 5;
  static constexpr uint32_t kFileSize = kFramedData + kFramedLength;
  static constexpr uint32_t kQuitLetterAt = kFileSize - 2;  // in the last record, "&q$"

  static PackagePlan make() {
    PackagePlan p;
    p.device_code = "SIM1000";
    p.run_order = {0, 1, 2};
    p.sections[0] = command_section("scmd", "echo hi");
    p.sections[1] = suited(binary_section({0, 0xFFF, 0x80, 0x1000}, pattern(kImage)));
    p.sections[2] = suited(framed_section({record_line("&t$"), record_line("&e@00002000$"),
                                           record_line("&w@00002000$"), record_line("&d#0102$"),
                                           record_line("&x$"), record_line("&q$")}));
    return p;
  }
  static uint32_t record_field(int r, int offset) { return static_cast<uint32_t>(pt_record_offset(r, offset)); }
};

struct Surgery {
  const char* name;
  std::vector<BytePatch> patches;
  size_t cut = 0;    // bytes removed from the end of the file
  std::string shown;  // the numbered messages on standard output, as the log shows them
  const char* note;   // on standard error, after "tmflash: <package>: "
};

void PrintTo(const Surgery& s, std::ostream* out) { *out << s.name; }

class RefusedPackage : public PackageRun, public ::testing::WithParamInterface<Surgery> {};

TEST_F(PackageRun, BasePackageOfTheRefusalsRuns) {
  connect_unchecked();
  write_package(BasePackage::make());
  ASSERT_EQ(package_bytes.size(), BasePackage::kFileSize);
  EXPECT_EQ(package_bytes[BasePackage::kQuitLetterAt], 'q');
  EXPECT_EQ(package_bytes[BasePackage::kBinaryData + kBinChunkOffset], 0x80);
  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(flash(0, BasePackage::kImage), pattern(BasePackage::kImage));
  EXPECT_EQ(flash(0x2000, 2), (std::vector<uint8_t>{0x01, 0x02}));
}

TEST_P(RefusedPackage, NothingReachesTheInstrument) {
  const Surgery& s = GetParam();
  connect_unchecked();  // an instrument the package suits: only the refusal stops it
  PackagePlan p = BasePackage::make();
  p.patches = s.patches;
  std::vector<uint8_t> bytes;
  std::string error;
  ASSERT_TRUE(build_package(p, &bytes, &error)) << error;
  bytes.resize(bytes.size() - s.cut);
  write_bytes(bytes);

  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(os.log(), updating() + s.shown + "stderr<14>tmflash: " + path + ": " + s.note + "\\n\n<12>" +
                          kFailedPackage);
  EXPECT_EQ(calls("viOpen"), 0u);
  EXPECT_TRUE(sim->transcript().empty());
  EXPECT_TRUE(os.events().end() ==
              std::find_if(os.events().begin(), os.events().end(),
                           [](const RecordingPlatform::Event& e) { return e.kind == RecordingPlatform::Event::kShell; }))
      << "a shell command ran";
}

using B = BasePackage;
const std::string k10_1 = "<12>Corrupted Update File. (10-1)\\n\n";
const std::string k10_2 = "<12>Corrupted Update File. (10-2)\\n\n";
const std::string k10_3 = "<12>Corrupted Update File. (10-3)\\n\n";
const std::string k10_4 = "<12>Corrupted Update File. (10-4)\\n\n";
const std::string k10_6 = "<12>Corrupted Update File. (10-6)\\n\n";
// What the streaming would show at a command the framing refuses (text
// mode: (2)) or at a transfer command in an entry mode that does not exist.
const std::string kRefusedLine = "<12>Corrupted Update File. (2)\\n\npause\n<12>Corrupted Update File. (10-5)\\n\n";
const std::string kBadMode = "<12>Corrupted Update File. (3)\\n\npause\n<12>Corrupted Update File. (10-5)\\n\n";

std::vector<uint8_t> le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }

// Where the framed section's records lie: the length field of record n at
// kRecordLengthAt[n], its bytes two further on.
constexpr uint32_t kRecordLengthAt[] = {B::kFramedData, B::kFramedData + 5, B::kFramedData + 15,
                                        B::kFramedData + 25, B::kFramedData + 33, B::kFramedData + 38};

INSTANTIATE_TEST_SUITE_P(
    PackageJob, RefusedPackage,
    ::testing::Values(
        Surgery{"BadMagic", {{0, {0xD1}}}, 0, k10_1, "byte 0: the magic is not D0 47 9B 1B"},
        Surgery{"ShortHeader", {}, 2000, k10_1, "the file is 1034 bytes, shorter than its 1968-byte header"},
        Surgery{"RunOrderEntry20", {{kRunOrderOffset + 1, {20}}}, 0, k10_1,
                "byte 9: run-order entry 1 names record 20; records are 0 .. 19"},
        Surgery{"RunOrderEntry254", {{kRunOrderOffset + 2, {254}}}, 0, k10_1,
                "byte 10: run-order entry 2 names record 254; records are 0 .. 19"},
        Surgery{"TextWithoutNul", {{B::record_field(1, kRecJumpOffset), std::vector<uint8_t>(kRecJumpSize, 'J')}}, 0,
                k10_1, "byte 186: section 1: the jump command field has no NUL within its 25 bytes"},
        Surgery{"CommandOver1999Bytes", {{B::record_field(0, kRecLengthOffset), le32(2000)}}, 0, k10_1,
                "byte 140: section 0: a command section of 2000 bytes; at most 1999"},
        Surgery{"DataPastTheEnd", {{B::record_field(1, kRecLengthOffset), le32(B::kBinaryLength + 4000)}}, 0, k10_1,
                "byte 236: section 1: its 5016 bytes from byte 1975 run past the end of the file (3034 bytes)"},
        Surgery{"OffsetOverflow", {{B::record_field(0, kRecLengthOffset), le32(0x7FFFFFFF)}}, 0, k10_1,
                "byte 140: section 0: its 2147483647 bytes from byte 1968 would end beyond byte 2147483647"},
        Surgery{"FramedWithoutQuitRecord", {}, 1, k10_2,
                "byte 3029: section 2: framed record 5 runs past the end of the file before a 'q' record"},
        Surgery{"QuitLetterChanged", {{B::kQuitLetterAt, {'x'}}}, 0, k10_2,
                "byte 3034: section 2: the framed records reach the end of the file without a 'q' record"},
        Surgery{"BinaryShorterThanSubHeader", {{B::record_field(1, kRecLengthOffset), le32(15)}}, 0, k10_4,
                "byte 236: section 1: a binary section of 15 bytes, shorter than its 16-byte sub-header"},
        Surgery{"ChunkSizeZero", {{B::kBinaryData + kBinChunkOffset, le32(0)}}, 0, k10_4,
                "byte 1983: section 1: chunk size 0 never uses up the 1000-byte image"},
        Surgery{"ChunkSizeNegative", {{B::kBinaryData + kBinChunkOffset, le32(0xFFFFFFFF)}}, 0, k10_4,
                "byte 1983: section 1: chunk size -1 never uses up the 1000-byte image"},
        Surgery{"ChunkTooBigForTheCommandBuffer", {{B::kBinaryData + kBinChunkOffset, le32(0x1000)}}, 0, k10_4,
                "byte 1983: section 1: chunk size 0x1000: its data commands do not fit the 2000-byte command buffer"},
        Surgery{"EraseStepZero", {{B::kBinaryData + kBinStepOffset, le32(0)}}, 0, k10_4,
                "byte 1987: section 1: erase addresses from 0x00000000 by step 0x0 never pass the end address "
                "0x00000FFF"},
        Surgery{"EraseStepDownFromAboveTheEnd",
                {{B::kBinaryData + kBinStartOffset, le32(0x2000)}, {B::kBinaryData + kBinStepOffset, le32(-0x2000)}},
                0, k10_4,
                "byte 1987: section 1: erase addresses from 0x00002000 by step -0x2000 never pass the end address "
                "0x00000FFF"},
        Surgery{"EraseStepWrapsPastTheEnd",
                {{B::kBinaryData + kBinStartOffset, le32(0x7FFFF000)}, {B::kBinaryData + kBinEndOffset, le32(0x7FFFFFFF)}},
                0, k10_4,
                "byte 1987: section 1: erase addresses from 0x7FFFF000 by step 0x1000 never pass the end address "
                "0x7FFFFFFF"},
        // Found by the streaming only after the sections before them had
        // changed the instrument; now refused before it is touched.
        Surgery{"FramedRecordLengthOne", {{kRecordLengthAt[3], le16(1)}}, 0, k10_2,
                "byte 3016: section 2: framed record 3 has length 1, outside 2 .. 256"},
        Surgery{"FramedRecordLength257", {{kRecordLengthAt[3], le16(257)}}, 0, k10_2,
                "byte 3016: section 2: framed record 3 has length 257, outside 2 .. 256"},
        Surgery{"FramedRecordPrefix", {{kRecordLengthAt[3] + 2, {'#'}}}, 0, k10_3,
                "byte 3018: section 2: framed record 3 begins with 0x23, which is none of ^ & * %"},
        Surgery{"CommandSectionKind", {{B::record_field(0, kRecKindOffset), {'x'}}}, 0, k10_6,
                "byte 80: section 0: a command section of kind \"xcmd\"; only mcmd and scmd exist"},
        Surgery{"ChunkSizeOfThreeDigits", {{B::kBinaryData + kBinChunkOffset, le32(0x100)}}, 0, kRefusedLine,
                "byte 1983: section 1: the command line \"&l#100$\" (chunk size 0x100) is refused in text mode: a "
                "payload pair is not two hex digits, or its '$' is missing"},
        Surgery{"BArgumentOfFiveDigits", {{kBArgumentOffset, le32(0x12345)}}, 0, kRefusedLine,
                "byte 4: section 1: the command line \"&b#12345$\" (b-command argument 0x12345) is refused in text "
                "mode: a payload pair is not two hex digits, or its '$' is missing"},
        Surgery{"BinarySectionInModeFive", {{B::record_field(1, kRecFlagsOffset), {0x85}}}, 0, kBadMode,
                "byte 184: section 1: its transfer command is in entry mode 5; only 0 .. 3 exist"},
        Surgery{"FramedRecordOfNoCommandLetter", {{kRecordLengthAt[3] + 3, {'z'}}}, 0, kRefusedLine,
                "byte 3018: section 2: framed record 3: the command line \"&z#0102$\" is refused in text mode: its "
                "second character is not a command letter"},
        Surgery{"FramedTransferInModeFive", {{B::record_field(2, kRecFlagsOffset), {0x05}}}, 0, kBadMode,
                "byte 2993: section 2: framed record 0: its transfer command is in entry mode 5; only 0 .. 3 exist"}),
    [](const ::testing::TestParamInfo<Surgery>& info) { return std::string(info.param.name); });

// --- The handshake of a section ----------------------------------------------

using SectionHandshake = PackageRun;

// A binary section of 16 bytes in the given mode whose package the
// instrument's info reply does not check (no section entry).
PackagePlan handshake_plan(int mode, const char* boot_version = "2.10", const char* hardware = "HW3") {
  PackagePlan p;
  p.device_code = "SIM1000";
  p.run_order = {0};
  p.sections[0] = suited(binary_section({0, 0, 0x10, 0x1000}, {}, mode));
  p.sections[0]->boot_version = boot_version;
  p.sections[0]->kind = hardware;
  return p;
}

const std::string kReconnect = "sleep 3000\n<13>select 0:" + kBootA + "\\n\n<12>different from \\n" + kBootA + "\\n" +
                               kMainA + "\\n\n<11>please ENTER continue\\n\npause\n<->Bootloader VisaRsrc=" + kBootA +
                               "\\n\n<->Bootloader version=2.05#0#HW3\\n\n";

TEST_F(SectionHandshake, ModeComesFromTheSectionFlags) {
  struct {
    int mode;
    std::string handshake;     // the log between the first and the second progress line
    Strings writes;            // to the main firmware, after the check
    size_t control_requests;
  } cases[] = {
      {0, "<->main *IDN = TMSIM,TM1000,SIM0001,1.03\\n\\n\nsleep 100\n" + kReconnect, {"*IDN?\n", "SYST:BOOT"}, 0},
      {1, "<->now version = mf_1.03\\n\n<->jump bootloader....\\n\n" + kReconnect, {}, 2},
      {2, "sleep 1000\n" + kReconnect, {"*IDN?\n", "SYST:BOOT"}, 0},
      {3, "sleep 1000\n" + kReconnect, {"*IDN?\n", "SYST:BOOT"}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    connect_unchecked();
    os.clear();
    write_package(handshake_plan(c.mode));
    EXPECT_EQ(run_package(), 0);
    EXPECT_EQ(os.log(), updating() + check_then_section_open() + progress("100.00") + c.handshake +
                            progress("100.00") + kUpdateOk);
    Strings sent = writes();
    Strings to_main(sent.begin() + 2, sent.begin() + 2 + static_cast<long>(c.writes.size()));
    EXPECT_EQ(to_main, c.writes);
    EXPECT_EQ(sim->control_requests(0).size(), c.control_requests);
    if (c.mode == 1) {
      EXPECT_EQ(sim->control_requests(0)[0].bmRequestType, 0xC0);
      EXPECT_EQ(sim->control_requests(0)[1].bmRequestType, 0x40);
    }
    EXPECT_EQ(sim->jumps(0), 1u);
    EXPECT_EQ(boot_commands(), (Strings{"r", "b#0000", "v#00", "l#10", "e@00000000", "w@00000000", "d#0", "x"}));
  }
}

TEST_F(SectionHandshake, SameResourceStringAfterTheJumpWarnsNothing) {
  connect_unchecked("");
  write_package(handshake_plan(0));
  EXPECT_EQ(run_package(), 0);
  EXPECT_EQ(os.log(), updating() + check_then_section_open() + progress("100.00") +
                          "<->main *IDN = TMSIM,TM1000,SIM0001,1.03\\n\\n\nsleep 100\nsleep 3000\n<13>select 0:" +
                          kMainA + "\\n\n<->Bootloader VisaRsrc=" + kMainA +
                          "\\n\n<->Bootloader version=2.05#0#HW3\\n\n" + progress("100.00") + kUpdateOk);
}

// The record's bootloader and hardware versions are the accepted ones.
TEST_F(SectionHandshake, VersionsAreCheckedAgainstTheSectionRecord) {
  struct {
    const char* boot_version;
    const char* hardware;
    std::string boot_reply;
    std::string after_echo;  // the log after "Bootloader version=..."
    int status;
  } cases[] = {
      {"2.99", "HW2,HW3", "2.05#0#HW3", progress("100.00") + kUpdateOk, 0},
      {"ALLBOOT", "ALL", "7.00#0#HW9", progress("100.00") + kUpdateOk, 0},
      {"", "", "7.00#0#HW9", progress("100.00") + kUpdateOk, 0},
      {"3.00", "HW3",  "2.05#0#HW3",
       "<12>Hardware version is HW3.\\nBootloader version is 2.05.\\nNot support this bootloader. (1)\\n\npause\n"
       "<12>Corrupted Update File. (10-5)\\n" + kFailedPackage, 1},
      {"2.00", "HW4", "2.05#0#HW3",
       "<12>Hardware version is HW3.\\nBootloader version is 2.05.\\nNot support this bootloader. (2)\\n\npause\n"
       "<12>Corrupted Update File. (10-5)\\n" + kFailedPackage, 1},
      {"2.00", "HW3", "2.05#1#HW3",
       "<12>bootloader isn't release's version\\n\npause\n" + progress("100.00") + kUpdateOk, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.boot_version) + " / " + c.hardware + " / " + c.boot_reply);
    sim::SimConfig config = unchecked_config();
    config.instruments[0].boot_version = c.boot_reply;
    connect(std::move(config));
    os.clear();
    write_package(handshake_plan(0, c.boot_version, c.hardware));
    EXPECT_EQ(run_package(), c.status);
    std::string echo = "<->Bootloader version=" + c.boot_reply + "\\n\n";
    size_t at = os.log().find(echo);
    ASSERT_NE(at, std::string::npos) << os.log();
    EXPECT_EQ(os.log().substr(at + echo.size()), c.after_echo);
    EXPECT_EQ(sim->open_handles(), 0u);
  }
}

TEST_F(SectionHandshake, ModeFiveIsRefusedAtTheTransferCommandOnly) {
  // A binary section always begins with "t": refused before the instrument
  // is opened, with the messages the transfer command would give.
  connect_unchecked();
  write_package(handshake_plan(5));
  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(os.log(), updating() + "<12>Corrupted Update File. (3)\\n\npause\n<12>Corrupted Update File. (10-5)\\n\n"
                      "stderr<14>tmflash: " + path +
                          ": byte 88: section 0: its transfer command is in entry mode 5; only 0 .. 3 exist\\n\n<12>" +
                          kFailedPackage);
  EXPECT_TRUE(sim->transcript().empty());
  EXPECT_EQ(sim->jumps(0), 0u);

  // A framed section without "t" runs in mode 5 on a running bootloader.
  sim::SimConfig config = unchecked_config();
  config.instruments[0].start = sim::StartState::kBootloader;
  connect(std::move(config));
  os.clear();
  PackagePlan p = handshake_plan(5);
  p.sections[0] = suited(framed_section({record_line("&x$"), record_line("&q$")}, 5));
  write_package(p);
  // A bootloader that leaves the info query unanswered: the package runs unchecked.
  sim->set_reply_hook([](const sim::ReplyContext& ctx, std::string* reply) {
    if (ctx.written.starts_with("syst:info?")) *reply = "";
  });
  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"x", "q"}));
}

}  // namespace
