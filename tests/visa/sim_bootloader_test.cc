// The simulated bootloader, through the ten VISA calls: frames in text and
// binary mode with and without command header and block header (written
// out byte by byte here, never by the updater's encoders), the echo, the
// version replies, protocol errors and the flash rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>

#include "support/sim_fixture.h"
#include "support/temp_dir.h"

namespace {

using sim::BootCommand;
using sim::SimError;

class SimBootloader : public SimFixture {
 protected:
  SimBootloader() {
    instrument().start = sim::StartState::kBootloader;
    instrument().erase_block = 0x100;
  }

  void start() {
    SimFixture::start();
    vi = open(kBootRsrc);
  }

  // Sends one message and returns the reply, which must come at once.
  std::string send(std::string_view message) {
    Reply r = query(vi, message);
    EXPECT_EQ(r.status, VI_SUCCESS);
    return r.bytes;
  }

  const sim::Bootloader& boot() { return simulator->bootloader(0); }

  ViSession vi = 0;
};

struct FrameCase {
  const char* name;
  std::string message;
  bool binary;
  bool block;
  const char* header;  // nullptr: no header
  char prefix;
  char letter;
  char marker;
  std::string payload;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

const FrameCase kFrames[] = {
    {"TextNoPayload", "\"&x$\"", false, false, nullptr, '&', 'x', '$', ""},
    {"TextAddress", "\"&w@0000F000$\"", false, false, nullptr, '&', 'w', '@', bytes({0x00, 0x00, 0xF0, 0x00})},
    {"TextLowerCaseHex", "\"^d#0a1B$\"", false, false, nullptr, '^', 'd', '#', bytes({0x0A, 0x1B})},
    {"TextEmptyPayload", "\"&w#$\"", false, false, nullptr, '&', 'w', '#', ""},
    {"TextHeader", "SYST:BOOT:DATA \"&w@0000F000$\"", false, false, "SYST:BOOT:DATA", '&', 'w', '@',
     bytes({0x00, 0x00, 0xF0, 0x00})},
    {"TextHeaderWithBlank", "MMEM:DATA 1 \"%b#0102$\"", false, false, "MMEM:DATA 1", '%', 'b', '#', bytes({1, 2})},
    {"TextUnknownLetterIsEchoed", "\"&z$\"", false, false, nullptr, '&', 'z', '$', ""},
    {"BinaryNoPayload", bytes({0x26, 0x0A, 0x24}), true, false, nullptr, '&', 'x', '$', ""},
    {"BinaryAddress", bytes({0x26, 0x01, 0x40, 0x00, 0x00, 0xF0, 0x00, 0x24}), true, false, nullptr, '&', 'w', '@',
     bytes({0x00, 0x00, 0xF0, 0x00})},
    {"BinaryPrefixQuote", bytes({0x22, 0x05, 0x23, 0x12, 0x34, 0x24}), true, false, nullptr, '"', 'b', '#',
     bytes({0x12, 0x34})},
    {"BinaryBlock", "SYST:BOOT:DATA #18" + bytes({0x26, 0x01, 0x40, 0x00, 0x00, 0xF0, 0x00, 0x24}), true, true,
     "SYST:BOOT:DATA", '&', 'w', '@', bytes({0x00, 0x00, 0xF0, 0x00})},
    // Payload bytes that look like the frame's own syntax are data.
    {"BinaryBlockTwoDigits", "H #212" + bytes({0x2A, 0x02, 0x23, 0x24, 0x22, 0x20, 0x23, 0x31, 0x32, 0x24, 0x00, 0x24}),
     true, true, "H", '*', 'd', '#', bytes({0x24, 0x22, 0x20, 0x23, 0x31, 0x32, 0x24, 0x00})},
    {"BinaryBlockHeaderWithBlank", "A B #13" + bytes({0x26, 0x05, 0x24}), true, true, "A B", '&', 'b', '$', ""},
};

class SimBootloaderFrames : public SimBootloader, public ::testing::WithParamInterface<FrameCase> {};

TEST_P(SimBootloaderFrames, DecodesAndEchoesTheLetter) {
  const FrameCase& c = GetParam();
  start();
  EXPECT_EQ(send(c.message), std::string(1, c.letter) + "\n");
  ASSERT_EQ(boot().commands().size(), 1u);
  EXPECT_EQ(boot().error_count(SimError::kProtocol), 0u);
  const BootCommand& cmd = boot().commands()[0];
  EXPECT_EQ(cmd.raw, c.message);
  EXPECT_EQ(cmd.binary, c.binary);
  EXPECT_EQ(cmd.block, c.block);
  EXPECT_EQ(cmd.header, c.header != nullptr);
  EXPECT_EQ(cmd.header_text, c.header ? c.header : "");
  EXPECT_EQ(cmd.prefix, static_cast<uint8_t>(c.prefix));
  EXPECT_EQ(cmd.letter, c.letter);
  EXPECT_EQ(cmd.marker, static_cast<uint8_t>(c.marker));
  EXPECT_EQ(cmd.payload, c.payload);
  EXPECT_EQ(cmd.reply, std::string(1, c.letter) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Frames, SimBootloaderFrames, ::testing::ValuesIn(kFrames),
                         [](const ::testing::TestParamInfo<FrameCase>& info) { return std::string(info.param.name); });

struct BadCase {
  std::string message;
  const char* why;
};

TEST_F(SimBootloader, UndecodableMessagesAreProtocolErrorsAnsweredWithAQuestionMark) {
  start();
  const BadCase cases[] = {
      {"\"&w@0000F00$\"", "payload is not pairs of hex digits"},
      {"\"&w@0000FG00$\"", "payload is not pairs of hex digits"},
      {"\"&w@0000F000\"", "command line without its closing \"$\""},
      {"\"&w!00$\"", "marker is none of \"$\", \"#\", \"@\""},
      {"\"&x$junk\"", "text after the \"$\" of a command without payload"},
      {"\"&w#00$0\"", "text after the closing \"$\""},
      {"\"&x\"", "command line shorter than 3 characters"},
      {"\"&x$\"\n", "message ends in neither a quote nor \"$\""},
      {"HDR &x$", "no block after the command header"},
      {"HDR #19" + bytes({0x26, 0x01, 0x40, 0x00, 0x00, 0xF0, 0x00, 0x24}), "block header announces 9 bytes, 8 follow"},
      {"HDR #17" + bytes({0x26, 0x01, 0x40, 0x00, 0x00, 0xF0, 0x00, 0x24}), "block header announces 7 bytes, 8 follow"},
      {"HDR #0" + bytes({0x26, 0x0A, 0x24}), "block header is not \"#\" and a digit 1..9"},
      {bytes({0x26, 0xFF, 0x24}), "unknown letter code 0xFF"},
      {bytes({0x26, 0x0A, 0x24, 0x24}), "bytes after the \"$\" of a frame without payload"},
      {bytes({0x26, 0x01, 0x40, 0x00}) + "$" + "x", "message ends in neither a quote nor \"$\""},
  };
  for (const BadCase& c : cases) EXPECT_EQ(send(c.message), "?") << c.why;
  ASSERT_EQ(boot().errors().size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(boot().errors()[i].kind, SimError::kProtocol);
    EXPECT_EQ(boot().errors()[i].what, cases[i].why);
    EXPECT_EQ(boot().errors()[i].message, cases[i].message);
  }
  EXPECT_TRUE(boot().commands().empty());
  EXPECT_EQ(boot().echoes(), 0u);
}

TEST_F(SimBootloader, VersionQueriesAreAnsweredWithTheVersionTexts) {
  start();
  EXPECT_EQ(send("\"&r$\""), "2.05#0#HW3");
  EXPECT_EQ(send("\"&r#00$\""), "1.03\n");
  EXPECT_EQ(send(bytes({0x26, 0x08, 0x24})), "2.05#0#HW3");
  EXPECT_EQ(send(bytes({0x26, 0x08, 0x23, 0x00, 0x24})), "1.03\n");
  EXPECT_EQ(send("SYST:BOOT:DATA #13" + bytes({0x5E, 0x08, 0x24})), "2.05#0#HW3");
  EXPECT_EQ(send("SYST:BOOT:DATA #15" + bytes({0x5E, 0x08, 0x23, 0x00, 0x24})), "1.03\n");
  EXPECT_EQ(send("SYST:BOOT:DATA \"&r#00$\""), "1.03\n");
  // Any other payload is an ordinary command.
  EXPECT_EQ(send("\"&r#01$\""), "r\n");
  EXPECT_EQ(send("*IDN?\n"), instrument().boot_idn);
  EXPECT_EQ(boot().echoes(), 1u);  // version texts are not echoes
}

TEST_F(SimBootloader, EchoCarriesTheConfiguredSuffix) {
  instrument().echo_suffix = "";
  start();
  EXPECT_EQ(send("\"&b#0001$\""), "b");
  EXPECT_EQ(send("\"&q$\""), "q");
}

// The flash tests send the commands the way section streaming does, in
// both modes, and look at the flash afterwards.
class SimFlash : public SimBootloader {
 protected:
  SimFlash() { instrument().flash_fill = 0x00; }

  static std::string text(const std::string& line) { return "\"" + line + "\""; }

  static std::string hex(const std::vector<uint8_t>& data) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : data) {
      out.push_back(digits[b >> 4]);
      out.push_back(digits[b & 15]);
    }
    return out;
  }

  static std::vector<uint8_t> image(size_t n, uint8_t seed) {
    std::vector<uint8_t> out(n);
    for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7);
    return out;
  }

  std::vector<uint8_t> flash(uint32_t addr, size_t len) { return simulator->flash(0, addr, len); }
};

TEST_F(SimFlash, EraseAddressAndDataProgramTheImage) {
  start();
  std::vector<uint8_t> img = image(0x180, 0x11);
  EXPECT_EQ(send(text("&e@00000100$")), "e\n");
  EXPECT_EQ(send(bytes({0x26, 0x00, 0x40, 0x00, 0x00, 0x02, 0x00, 0x24})), "e\n");  // binary e@00000200
  EXPECT_EQ(send(text("&w@00000100$")), "w\n");
  // First chunk as text, second as a binary frame behind a block header.
  std::vector<uint8_t> first(img.begin(), img.begin() + 0x80);
  std::vector<uint8_t> second(img.begin() + 0x80, img.end());
  EXPECT_EQ(send(text("&d#" + hex(first) + "$")), "d\n");
  std::string frame = bytes({0x26, 0x02, 0x23}) + std::string(second.begin(), second.end()) + "$";
  EXPECT_EQ(send("SYST:BOOT:DATA #3" + std::to_string(frame.size()) + frame), "d\n");
  EXPECT_FALSE(boot().image_complete());
  EXPECT_EQ(send(bytes({0x26, 0x0A, 0x24})), "x\n");

  EXPECT_TRUE(boot().errors().empty()) << boot().errors()[0].what;
  EXPECT_TRUE(boot().image_complete());
  EXPECT_EQ(flash(0x100, img.size()), img);
  EXPECT_EQ(flash(0x280, 0x80), std::vector<uint8_t>(0x80, 0xFF));  // erased, not written
  EXPECT_EQ(flash(0xFF, 1), std::vector<uint8_t>{0x00});             // never erased
  EXPECT_EQ(flash(0x300, 1), std::vector<uint8_t>{0x00});
}

TEST_F(SimFlash, WritingFlashThatIsNotErasedIsAFlashError) {
  instrument().flash_fill = 0xF0;
  start();
  send(text("&e@00000100$"));
  send(text("&w@000001F8$"));
  // 16 bytes: 8 into the erased block, 8 beyond it.
  EXPECT_EQ(send(text("&d#3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C3C$")), "d\n");  // still echoed
  ASSERT_EQ(boot().errors().size(), 1u);
  EXPECT_EQ(boot().errors()[0].kind, SimError::kFlash);
  EXPECT_EQ(boot().errors()[0].what, "8 byte(s) written to flash that was not erased, first at 0x00000200");
  std::vector<uint8_t> want(16, 0x30);  // beyond the block, like NOR flash: old AND new
  std::fill_n(want.begin(), 8, 0x3C);
  EXPECT_EQ(flash(0x1F8, 16), want);

  // Writing the same bytes again, without an erase in between, fails too.
  send(text("&w@00000100$"));
  send(text("&d#00$"));
  send(text("&d#00$"));
  send(text("&w@00000100$"));
  send(text("&d#00$"));
  ASSERT_EQ(boot().error_count(SimError::kFlash), 2u);
  EXPECT_EQ(boot().errors()[1].what, "1 byte(s) written to flash that was not erased, first at 0x00000100");
}

TEST_F(SimFlash, DataBeforeAnyWriteAddressIsAFlashError) {
  start();
  send(text("&e@00000000$"));
  EXPECT_EQ(send(text("&d#0102$")), "d\n");
  ASSERT_EQ(boot().errors().size(), 1u);
  EXPECT_EQ(boot().errors()[0].what, "data before any write address");
  EXPECT_EQ(flash(0, 2), (std::vector<uint8_t>{0xFF, 0xFF}));
}

TEST_F(SimFlash, AddressCommandsNeedFourBytes) {
  start();
  send(text("&e#0100$"));
  send(text("&w@0000010000$"));
  ASSERT_EQ(boot().errors().size(), 2u);
  EXPECT_EQ(boot().errors()[0].what, "erase needs a 4-byte address");
  EXPECT_EQ(boot().errors()[1].what, "write address needs 4 bytes");
  EXPECT_EQ(flash(0x100, 1), std::vector<uint8_t>{0x00});
}

TEST_F(SimFlash, TheEndOfTheAddressSpaceIsNotPassed) {
  start();
  send(text("&e@FFFFFF80$"));  // the block is cut at 4 GiB
  EXPECT_EQ(flash(0xFFFFFF80, 0x100), std::vector<uint8_t>(0x80, 0xFF));
  send(text("&w@FFFFFFFE$"));
  send(text("&d#010203$"));
  ASSERT_EQ(boot().errors().size(), 1u);
  EXPECT_EQ(boot().errors()[0].what, "1 byte(s) written to flash that was not erased, first at 0x100000000");
  EXPECT_EQ(flash(0xFFFFFFFE, 2), (std::vector<uint8_t>{0x01, 0x02}));
}

// The flash file: written at each "x", with the programmed runs read back
// from flash (a byte that was not erased shows what the flash really holds).
TEST_F(SimFlash, FlashFileShowsTheProgrammedRunsWhenAnImageIsComplete) {
  TempDir dir;
  config.flash_path = dir.file("flash.txt");
  auto file = [&] {
    std::ifstream in(config.flash_path);  // a text file: CR LF on Windows
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  };
  start();
  send(text("&e@00010000$"));
  send(text("&w@00010002$"));
  send(text("&d#0304$"));
  send(text("&w@00010000$"));
  send(text("&d#0102$"));
  send(text("&w@00020000$"));  // never erased: fill 0x00 AND the data
  send(text("&d#AA$"));
  EXPECT_EQ(file(), "");  // no image complete yet
  send(text("&x$"));
  EXPECT_EQ(file(), "sim0 0x00010000 01020304\nsim0 0x00020000 00\n");
  send(text("&w@00010004$"));
  send(text("&d#05$"));
  send(text("&x$"));
  EXPECT_EQ(file(), "sim0 0x00010000 0102030405\nsim0 0x00020000 00\n");
}

}  // namespace
