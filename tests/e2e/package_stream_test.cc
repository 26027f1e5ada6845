// Firmware sections of packages streamed to the simulated bootloader through
// the whole package job: the commands that go out, their framing, the bytes
// that land in flash, the progress line, and the records and sub-headers that
// make the package job refuse a package before it opens the instrument.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/package_run.h"

namespace {

using Strings = std::vector<std::string>;

std::string hex(const std::vector<uint8_t>& bytes, size_t from = 0, size_t n = std::string::npos) {
  std::string out;
  for (size_t i = from; i < bytes.size() && i - from < n; ++i) {
    char two[3];
    snprintf(two, sizeof two, "%02X", bytes[i]);
    out += two;
  }
  return out;
}

// The writes of a package job before its first section: the compatibility
// check, then the mode-0 probe and jump command of the section's handshake.
const Strings kCheckAndJump = {"*idn?\n", "syst:info?\n", "*IDN?\n", "SYST:BOOT"};

Strings concat(Strings a, const Strings& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<uint8_t> concat_bytes(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

using BinaryStream = PackageRun;

// Start 0x100, end 0x3FF, step 0x100, chunk 0x80, a 0x100-byte image.
TEST_F(BinaryStream, WorkedExampleSendsItsCommandsInOrderAndFillsTheFlash) {
  connect_with_erase_block(0x100);
  std::vector<uint8_t> image = pattern(0x100);
  PackagePlan p = plan({0});
  p.sections[0] = suited(binary_section({0x100, 0x3FF, 0x80, 0x100}, image));
  write_package(p);

  EXPECT_EQ(run_package(), 0);
  EXPECT_EQ(os.log(), updating() + check_then_section_open() + progress("5.88") + mode0_handshake() +
                          progress("52.94") + progress("100.00") + "<->\\nUpdate Ok\\n\n");
  EXPECT_EQ(writes(), concat(kCheckAndJump, {"\"&r$\"", "\"&b#0000$\"", "\"&v#00$\"", "\"&l#80$\"",
                                             "\"&e@00000100$\"", "\"&e@00000200$\"", "\"&e@00000300$\"",
                                             "\"&w@00000100$\"", "\"&d#" + hex(image, 0, 0x80) + "$\"",
                                             "\"&d#" + hex(image, 0x80) + "$\"", "\"&x$\""}));
  EXPECT_EQ(flash(0x100, 0x100), image);
  EXPECT_EQ(flash(0x200, 0x200), std::vector<uint8_t>(0x200, 0xFF));  // erased, not written
  EXPECT_EQ(flash(0xFF, 1), std::vector<uint8_t>{0x00});   // below the first erase: untouched
  EXPECT_EQ(flash(0x400, 1), std::vector<uint8_t>{0x00});  // 0x400 is past the end address: not erased
  EXPECT_TRUE(sim->bootloader(0).errors().empty());
  EXPECT_TRUE(sim->bootloader(0).image_complete());
  EXPECT_EQ(sim->open_handles(), 0u);
}

// --- Framing: text or binary, with or without a command header -------------

struct Framing {
  const char* name;
  int8_t binary_flag;
  const char* header;
  std::string b_command;  // the b command as written to the instrument
};

class FramedAndBinaryInEveryFraming : public PackageRun, public ::testing::WithParamInterface<Framing> {};

// A binary section (0x101 bytes at 0x1000: chunks of 0x80, 0x80 and 1) and a
// framed section (150 bytes at 0x3000, one record with another prefix, two
// whose length counts a NUL after their '$'), in one package; the second
// section finds the bootloader already running.
TEST_P(FramedAndBinaryInEveryFraming, BytesLandInFlashAndEveryCommandCarriesTheFraming) {
  const Framing& f = GetParam();
  connect_one();
  std::vector<uint8_t> image = pattern(0x101);
  std::vector<uint8_t> framed = pattern(150, 7);
  std::vector<uint8_t> first(framed.begin(), framed.begin() + 100), rest(framed.begin() + 100, framed.end());
  PackagePlan p = plan({0, 1});
  p.b_argument = 0x1234;
  p.sections[0] = suited(binary_section({0x1000, 0x1FFF, 0x80, 0x1000}, image));
  p.sections[1] = suited(framed_section({record_line("&t$"), record_line("&e@00003000$"),
                                         record_line("&w@00003000$"), record_line("&d#" + hex(first) + "$"),
                                         record_line("^d#" + hex(rest) + "$", true), record_line("&x$", true),
                                         record_line("%q$")}));
  for (int s : {0, 1}) {
    p.sections[s]->binary_flag = f.binary_flag;
    p.sections[s]->command_header = f.header;
  }
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "b#1234", "v#00", "l#80", "e@00001000", "w@00001000", "d#128", "d#128",
                                      "d#1", "x", "r", "e@00003000", "w@00003000", "d#100", "d#50", "x", "q"}));
  for (const sim::BootCommand& c : sim->bootloader(0).commands()) {
    EXPECT_EQ(c.binary, f.binary_flag != 0) << c.raw;
    EXPECT_EQ(c.header, f.header[0] != '\0') << c.raw;
    EXPECT_EQ(c.header_text, f.header) << c.raw;
    EXPECT_EQ(c.block, f.binary_flag != 0 && f.header[0] != '\0') << c.raw;
  }
  const std::vector<sim::BootCommand>& cmds = sim->bootloader(0).commands();
  EXPECT_EQ(cmds[1].raw, f.b_command);
  EXPECT_EQ(cmds[14].prefix, '^');
  EXPECT_EQ(cmds[16].prefix, '%');
  EXPECT_EQ(flash(0x1000, 0x101), image);
  EXPECT_EQ(flash(0x1101, 1), std::vector<uint8_t>{0xFF});
  EXPECT_EQ(flash(0x3000, 150), framed);
  EXPECT_TRUE(sim->bootloader(0).errors().empty());
  EXPECT_EQ(sim->jumps(0), 1u);
  // The second section's probe finds the bootloader: no second jump.
  EXPECT_NE(os.log().find("<->main *IDN = boot,TM1000,SIM0001,2.05\\n\\n\n<->Bootloader version=2.05#0#HW3\\n\n"),
            std::string::npos)
      << os.log();
  // The jump command goes out bare whatever the framing.
  EXPECT_EQ(writes()[3], "SYST:BOOT");
  EXPECT_EQ(sim->open_handles(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    PackageStream, FramedAndBinaryInEveryFraming,
    ::testing::Values(Framing{"Text", 0, "", "\"&b#1234$\""},
                      Framing{"TextWithHeader", 0, ":UPD", ":UPD \"&b#1234$\""},
                      Framing{"Binary", 1, "", std::string("&\x05#\x12\x34$", 6)},
                      Framing{"BinaryWithHeader", -1, ":UPD", std::string(":UPD #16&\x05#\x12\x34$", 14)}),
    [](const ::testing::TestParamInfo<Framing>& info) { return std::string(info.param.name); });

// --- Binary sub-header edge cases -------------------------------------------

TEST_F(BinaryStream, SixteenByteSectionSendsOneEmptyDataCommand) {
  connect_one();
  PackagePlan p = plan({0});
  p.sections[0] = suited(binary_section({0x1000, 0x1000, 0x10, 0x1000}, {}));
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "b#0000", "v#00", "l#10", "e@00001000", "w@00001000", "d#0", "x"}));
  EXPECT_EQ(writes()[10], "\"&d#$\"");
  // The sub-header is the whole section: 100 % before and after the data command.
  EXPECT_EQ(os.log(), updating() + check_then_section_open() + progress("100.00") + mode0_handshake() +
                          progress("100.00") + "<->\\nUpdate Ok\\n\n");
}

TEST_F(BinaryStream, ImageOfWholeChunksEndsWithAFullDataCommand) {
  connect_one();
  PackagePlan p = plan({0});
  p.sections[0] = suited(binary_section({0, 0, 0x40, 0x1000}, pattern(0xC0)));
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "b#0000", "v#00", "l#40", "e@00000000", "w@00000000", "d#64", "d#64",
                                      "d#64", "x"}));
  EXPECT_EQ(flash(0, 0xC1), concat_bytes(pattern(0xC0), {0xFF}));
}

TEST_F(BinaryStream, StartAboveEndErasesOnceAtTheStart) {
  connect_one();
  PackagePlan p = plan({0});
  p.sections[0] = suited(binary_section({0x5000, 0x1000, 0x80, 0}, pattern(0x10)));
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "b#0000", "v#00", "l#80", "e@00005000", "w@00005000", "d#16", "x"}));
  EXPECT_EQ(flash(0x5000, 0x10), pattern(0x10));
}

// Erasing goes on while the next address is at most the end address.
TEST_F(BinaryStream, EraseAtExactlyTheEndAddressIsSent) {
  connect_one();
  PackagePlan p = plan({0});
  p.sections[0] = suited(binary_section({0x1000, 0x3000, 0x80, 0x1000}, pattern(0x10)));
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "b#0000", "v#00", "l#80", "e@00001000", "e@00002000", "e@00003000",
                                      "w@00001000", "d#16", "x"}));
}

// A step downwards that stays above the end address: still one erase.
TEST_F(BinaryStream, StepDownFromAboveTheEndThatStaysAboveErasesOnce) {
  connect_one();
  PackagePlan p = plan({0});
  p.sections[0] = suited(binary_section({0x5000, 0x1000, 0x80, -0x1000}, pattern(0x10)));
  write_package(p);

  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "b#0000", "v#00", "l#80", "e@00005000", "w@00005000", "d#16", "x"}));
}

// Arguments whose hex form has an odd digit count would fail the framing at
// their command: (2) in text mode, (1) in binary mode, then (10-5). The
// package is refused with those messages before the instrument is opened.
TEST_F(BinaryStream, OddDigitCountsAreRefusedBeforeTheInstrumentIsOpened) {
  struct {
    const char* what;
    uint32_t b_argument;
    int32_t chunk;
    int8_t binary_flag;
    const char* framing_message;
    const char* note;  // after "tmflash: <package>: "
  } cases[] = {
      {"chunk 0x100, text", 0, 0x100, 0, "(2)",
       "byte 1976: section 0: the command line \"&l#100$\" (chunk size 0x100) is refused in text mode: a payload "
       "pair is not two hex digits, or its '$' is missing"},
      {"chunk 0x100, binary", 0, 0x100, 1, "(1)",
       "byte 1976: section 0: the command line \"&l#100$\" (chunk size 0x100) is refused in binary mode: it ends "
       "before its '$'"},
      {"b argument 0x12345, text", 0x12345, 0x80, 0, "(2)",
       "byte 4: section 0: the command line \"&b#12345$\" (b-command argument 0x12345) is refused in text mode: a "
       "payload pair is not two hex digits, or its '$' is missing"},
      {"b argument 0x1234567, binary", 0x1234567, 0x80, 1, "(1)",
       "byte 4: section 0: the command line \"&b#1234567$\" (b-command argument 0x1234567) is refused in binary "
       "mode: it ends before its '$'"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    connect_one();
    os.clear();
    PackagePlan p = plan({0});
    p.b_argument = c.b_argument;
    p.sections[0] = suited(binary_section({0, 0xFFF, c.chunk, 0x1000}, pattern(0x200)));
    p.sections[0]->binary_flag = c.binary_flag;
    write_package(p);

    EXPECT_EQ(run_package(), 1);
    EXPECT_EQ(os.log(), updating() + "<12>Corrupted Update File. " + c.framing_message +
                            "\\n\npause\n<12>Corrupted Update File. (10-5)\\n\nstderr<14>tmflash: " + path + ": " +
                            c.note + "\\n\n<12>Device is failed connected. (8)\\n\npause\n");
    EXPECT_TRUE(sim->transcript().empty());
  }
}

// --- Framed records ------------------------------------------------------------

using FramedStream = PackageRun;

// A framed section: "&t$", then the records given.
PackagePlan framed_plan(std::vector<FramedRecordPlan> records) {
  records.insert(records.begin(), record_line("&t$"));
  PackagePlan p;
  p.device_code = "SIM1000";
  p.run_order = {0};
  p.sections[0] = suited(framed_section(std::move(records)));
  return p;
}

const std::string kFailedPackage = "Device is failed connected. (8)\\n\npause\n";

TEST_F(FramedStream, RecordOf256BytesIsAcceptedAndOf257Refused) {
  std::vector<uint8_t> data = pattern(252);
  std::vector<uint8_t> full = {'&', 'd', '#'};
  full.insert(full.end(), data.begin(), data.end());
  full.push_back('$');
  ASSERT_EQ(full.size(), 256u);

  connect_one();
  write_package(framed_plan({record_line("&e@00000000$"), record_line("&w@00000000$"), record_raw(full),
                             record_line("&x$"), record_line("&q$")}));
  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "e@00000000", "w@00000000", "d#252", "x", "q"}));
  EXPECT_EQ(flash(0, 252), data);

  // One byte more is refused before the instrument is opened (the streamer's
  // own refusal: section_stream_test.cc).
  std::vector<uint8_t> too_long = full;
  too_long.insert(too_long.end() - 1, 0x55);
  connect_one();
  os.clear();
  write_package(framed_plan({record_raw(too_long), record_line("&q$")}));
  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(os.log(), updating() + "<12>Corrupted Update File. (10-2)\\n\nstderr<14>tmflash: " + path +
                          ": byte 1973: section 0: framed record 1 has length 257, outside 2 .. 256\\n\n<12>" +
                          kFailedPackage);
  EXPECT_TRUE(sim->transcript().empty());
}

TEST_F(FramedStream, QuitRecordEndsTheSectionWhateverItsPrefix) {
  connect_one();
  // After the 'q' record: a record of length 1 that would be refused if read.
  write_package(framed_plan({record_line("&e@00000000$"), record_line("*q$"), record_raw({'&'}, 1)}));
  // Section: 5 (t) + 2 + 8 + 5 (q) + 3: 23 bytes; the last 3 are never read.
  EXPECT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "e@00000000", "q"}));
  EXPECT_TRUE(os.log().ends_with(progress("86.96") + "<->\\nUpdate Ok\\n\n")) << os.log();
}

TEST_F(FramedStream, WrongEchoEndsTheSectionAndThePackage) {
  sim::SimConfig config;
  config.instruments.push_back(instrument(kMainA, kBootA));
  config.instruments.back().faults.wrong_echo_at = {2};  // the w command
  connect(std::move(config));
  write_package(framed_plan({record_line("&e@00000000$"), record_line("&w@00000000$"), record_line("&d#AA$"),
                             record_line("&q$")}));

  EXPECT_EQ(run_package(), 1);
  // No pause of its own: a wrong echo is reported only by the section and the job.
  EXPECT_TRUE(os.log().ends_with("<12>Corrupted Update File. (10-5)\\n" + kFailedPackage)) << os.log();
  EXPECT_EQ(boot_commands(), (Strings{"r", "e@00000000", "w@00000000"}));
  EXPECT_EQ(sim->open_handles(), 0u);
}

}  // namespace
