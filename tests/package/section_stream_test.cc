// The section streamers called on their own, for what the package job cannot
// show: the result of a wrong echo (2, not 1), and the streamers' own
// refusals of records, sub-headers and commands, of sections whose file
// ends early or whose length is shorter than its sub-header. The package job
// refuses such files before it streams; the streamers must stay safe anyway,
// and refuse with the same messages at the same places.
#include "package/section_stream.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "package/package_format.h"
#include "script/script.h"
#include "support/sim_run.h"

namespace {

std::vector<uint8_t> sub_header(int32_t start, int32_t end, int32_t chunk, int32_t step) {
  std::vector<uint8_t> out(kBinHeaderSize);
  put_le32(out.data() + kBinStartOffset, static_cast<uint32_t>(start));
  put_le32(out.data() + kBinEndOffset, static_cast<uint32_t>(end));
  put_le32(out.data() + kBinChunkOffset, static_cast<uint32_t>(chunk));
  put_le32(out.data() + kBinStepOffset, static_cast<uint32_t>(step));
  return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

// A framed record: its length and its bytes.
std::vector<uint8_t> record(const std::string& raw) {
  std::vector<uint8_t> out = {static_cast<uint8_t>(raw.size()), static_cast<uint8_t>(raw.size() >> 8)};
  return out + bytes(raw);
}

class SectionStreamer : public SimRun {
 protected:
  // An instrument already running its bootloader, opened; text mode, mode 0.
  void SetUp() override {
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    config.instruments.back().start = sim::StartState::kBootloader;
    config.instruments.back().faults = faults;
    connect(std::move(config));
    reset_setting(u);
    u.upd.mode = 0;
    os.answer({"0"});
    ASSERT_EQ(open(&selection), 0);
    os.clear();
  }
  void TearDown() override {
    if (file != nullptr) fclose(file);
  }

  FILE* section_file(const std::vector<uint8_t>& data) {
    std::string path = dir.write("section.bin", std::string(data.begin(), data.end()));
    return file = fopen(path.c_str(), "rb");
  }

  std::vector<char> letters() const {
    std::vector<char> out;
    for (const sim::BootCommand& c : sim->bootloader(0).commands()) out.push_back(c.letter);
    return out;
  }

  sim::InstrumentFaults faults;
  int selection = -1;
  FILE* file = nullptr;
};

using Chars = std::vector<char>;

// The version echo of the "t" command on a running bootloader.
const std::string kProbe = "<->main *IDN = boot,TM1000,SIM0001,2.05\\n\\n\n<->Bootloader version=2.05#0#HW3\\n\n";

class StreamerWrongEcho : public SectionStreamer {
 protected:
  void SetUp() override {
    faults.wrong_echo_at = {2};
    SectionStreamer::SetUp();
  }
};

TEST_F(StreamerWrongEcho, EndsTheSectionWithResultTwo) {
  std::vector<uint8_t> section = sub_header(0, 0, 0x10, 0x1000) + std::vector<uint8_t>(0x10, 0xA5);
  EXPECT_EQ(update_bin(u, selection, 0, static_cast<uint32_t>(section.size()), section_file(section)), 2);
  EXPECT_EQ(letters(), (Chars{'r', 'b', 'v'}));
  EXPECT_EQ(os.log(), "<->update...50.00%\\r\n" + kProbe + "<12>Corrupted Update File. (10-5)\\n\n");
}

TEST_F(StreamerWrongEcho, EndsAFramedSectionWithResultTwo) {
  std::vector<uint8_t> section = record("&t$") + record("&x$") + record(std::string("&e@\0\0\0\0$", 8)) +
                                 record("&q$");
  EXPECT_EQ(update_img(u, selection, 0, static_cast<uint32_t>(section.size()), section_file(section)), 2);
  EXPECT_EQ(letters(), (Chars{'r', 'x', 'e'}));
  EXPECT_TRUE(os.log().ends_with("<12>Corrupted Update File. (10-5)\\n\n")) << os.log();
}

TEST_F(SectionStreamer, BinarySectionWhoseFileEndsEarlyIsCorrupted) {
  // Inside the sub-header: nothing is sent.
  std::vector<uint8_t> cut = sub_header(0, 0, 0x10, 0x1000);
  cut.resize(10);
  EXPECT_EQ(update_bin(u, selection, 0, 0x30, section_file(cut)), 1);
  EXPECT_EQ(os.log(), "<12>Corrupted Update File. (10-1)\\n\n");
  EXPECT_TRUE(writes().empty());
  fclose(file);

  // Inside the second chunk: the first one went out, the second does not.
  os.clear();
  std::vector<uint8_t> section = sub_header(0, 0, 0x10, 0x1000) + std::vector<uint8_t>(0x14, 0x5A);
  EXPECT_EQ(update_bin(u, selection, 0, 0x30, section_file(section)), 1);
  EXPECT_EQ(letters(), (Chars{'r', 'b', 'v', 'l', 'e', 'w', 'd'}));
  EXPECT_TRUE(os.log().ends_with("<->update...66.67%\\r\n<12>Corrupted Update File. (10-1)\\n\n")) << os.log();
}

TEST_F(SectionStreamer, FramedSectionWhoseFileEndsEarlyIsCorrupted) {
  // Inside a record length, then inside a record.
  for (const std::vector<uint8_t>& section :
       {record("&t$") + std::vector<uint8_t>{0x03}, record("&t$") + record("&x$") + std::vector<uint8_t>{0x03, 0, '&'}}) {
    os.clear();
    EXPECT_EQ(update_img(u, selection, 0, 100, section_file(section)), 1);
    EXPECT_TRUE(os.log().ends_with("<12>Corrupted Update File. (10-2)\\n\n")) << os.log();
    fclose(file);
    file = nullptr;
  }
  EXPECT_EQ(letters(), (Chars{'r', 'r', 'x'}));
}

// A length below the 16-byte sub-header leaves no image at all; the streamer
// must neither read nor send anything for it.
TEST_F(SectionStreamer, BinarySectionShorterThanItsSubHeaderIsRefusedUnread) {
  std::vector<uint8_t> section = sub_header(0, 0, 0x10, 0x1000) + std::vector<uint8_t>(3000, 0x11);
  EXPECT_EQ(update_bin(u, selection, 0, 15, section_file(section)), 1);
  EXPECT_EQ(os.log(), "<12>Corrupted Update File. (10-4)\\n\n");
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(ftell(file), 0);
}

// Called directly, without the runner's check, a sub-header that would loop
// for ever or overrun the frame buffer is refused before anything is sent.
TEST_F(SectionStreamer, SubHeaderThatWouldNeverEndIsRefusedUnsent) {
  struct {
    const char* name;
    std::vector<uint8_t> header;
  } cases[] = {
      {"chunk 0 with image bytes left", sub_header(0, 0, 0, 0x1000)},
      {"erase step 0", sub_header(0, 0x1000, 0x10, 0)},
      {"data commands too long for the buffers", sub_header(0, 0, 0x1000, 0x1000)},
  };
  for (const auto& c : cases) {
    os.clear();
    std::vector<uint8_t> section = c.header + std::vector<uint8_t>(1200, 0x11);
    EXPECT_EQ(update_bin(u, selection, 0, static_cast<uint32_t>(section.size()), section_file(section)), 1)
        << c.name;
    EXPECT_EQ(os.log(), "<12>Corrupted Update File. (10-4)\\n\n") << c.name;
    EXPECT_TRUE(writes().empty()) << c.name;
    fclose(file);
    file = nullptr;
  }
}

// The records the package job's check refuses up front, as the streamer
// meets them: after the records before were sent, with the progress line
// counting what was read.
TEST_F(SectionStreamer, FramedRecordsAreRefusedWhereTheStreamerMeetsThem) {
  struct {
    const char* name;
    std::vector<uint8_t> bad;  // after the "t" record
    std::string tail;          // the log after the probe's version echo
  } cases[] = {
      // Section: 2 + 3 (t), 2 + 1 (length 1), 2 + 3 (q): 13 bytes.
      {"length 1", std::vector<uint8_t>{1, 0, '&'}, "<->update...53.85%\\r\n<12>Corrupted Update File. (10-2)\\n\n"},
      // The 257 bytes are never read: 5 + 2 + 257 + 5 = 269 bytes.
      {"length 257", std::vector<uint8_t>{1, 1} + std::vector<uint8_t>(257, '&'),
       "<->update...2.60%\\r\n<12>Corrupted Update File. (10-2)\\n\n"},
      // A record of 6 bytes without a prefix, counted before it is refused: 18 bytes.
      {"no prefix", record("#d#\x01\x02$"),
       "<->update...38.89%\\r\n<->update...72.22%\\r\n<12>Corrupted Update File. (10-3)\\n\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    os.clear();
    std::vector<uint8_t> section = record("&t$") + c.bad + record("&q$");
    EXPECT_EQ(update_img(u, selection, 0, static_cast<uint32_t>(section.size()), section_file(section)), 1);
    size_t at = os.log().find(kProbe);
    ASSERT_NE(at, std::string::npos) << os.log();
    EXPECT_EQ(os.log().substr(at + kProbe.size()), c.tail);
    fclose(file);
    file = nullptr;
  }
  EXPECT_EQ(letters(), (Chars{'r', 'r', 'r'}));
}

// A command the framing refuses ends the section at that command, after
// the commands before it were sent: its framing message and the pause, then
// (10-5).
TEST_F(SectionStreamer, CommandTheFramingRefusesEndsTheSectionThere) {
  std::vector<uint8_t> section = sub_header(0, 0xFFF, 0x100, 0x1000) + std::vector<uint8_t>(0x200, 0x11);
  EXPECT_EQ(update_bin(u, selection, 0, static_cast<uint32_t>(section.size()), section_file(section)), 1);
  EXPECT_EQ(letters(), (Chars{'r', 'b', 'v'}));
  EXPECT_TRUE(os.log().ends_with("<12>Corrupted Update File. (2)\\n\npause\n<12>Corrupted Update File. (10-5)\\n\n"))
      << os.log();
}

}  // namespace
