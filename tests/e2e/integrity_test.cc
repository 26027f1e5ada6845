// The integrity of update files, checked before the instrument is opened:
// a script's checksum line, a package's integrity trailer, --strict for
// production lines, --no-verify for stored scripts with a wrong checksum,
// and the compatibility check that --strict will not skip.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/package_run.h"
#include "package/package_trailer.h"
#include "platform/clock.h"
#include "record/run_recorder.h"
#include "script/script_writer.h"

namespace {

// A script whose first line is its checksum line, as tmscript writes it.
const std::string kSource =
    "@checksum\n"
    "@jump SYST:BOOT\n"
    "@boot 2.10\n"
    "@hw HW3\n"
    "@main ,1.03,\n"
    "&t$\n"
    "&e@00010000$\n"
    "&w@00010000$\n"
    "&d#00112233445566778899AABBCCDDEEFF$\n"
    "&x$\n";

std::string compiled(const std::string& source) {
  std::string text, error;
  EXPECT_TRUE(compile_script(source, &text, &error)) << error;
  return text;
}

const std::string kPause = "pause\n";

class ScriptIntegrity : public SimRun {
 protected:
  int run_script(const std::string& text) {
    path = dir.write("fw.txt", text);
    os.answer({"0"});
    return run_list("total=1\npath0=" + path + "\n");
  }
  // What a refused script shows: its announcement, the message, the reason
  // on standard error and the pause.
  std::string refused(const std::string& message, const std::string& place, const std::string& why) const {
    return "<10>file(" + path + ") updating...\\n\n<12>" + message + "\\n\nstderr<14>tmflash: " + place + ": " +
           why + "\\n\n" + kPause;
  }

  std::string path;
};

TEST_F(ScriptIntegrity, ScriptWhoseChecksumHoldsRunsAlsoUnderStrict) {
  for (bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "--strict" : "default");
    connect_one();
    u.integrity.strict = strict;
    EXPECT_EQ(run_script(compiled(kSource)), 0) << os.log();
    EXPECT_NE(os.text().find("Update Ok"), std::string::npos);
  }
}

TEST_F(ScriptIntegrity, DamagedScriptIsRefusedBeforeTheInstrumentIsOpened) {
  std::string text = compiled(kSource);
  size_t at = text.find("&d#0011");
  ASSERT_NE(at, std::string::npos);
  text[at + 4] = '2';  // one data digit: the framing cannot tell, the checksum can
  connect_one();
  EXPECT_EQ(run_script(text), 1);
  EXPECT_EQ(os.log(), refused("Corrupted Update File. (11)", path + ":1",
                              "the checksum does not hold: the script was damaged or changed after it was written "
                              "(--no-verify runs it all the same)"));
  EXPECT_TRUE(sim->transcript().empty());
}

TEST_F(ScriptIntegrity, NoVerifyRunsAScriptWhoseChecksumDoesNotHold) {
  std::string text = compiled(kSource);
  text.replace(text.find("&x$"), 3, "&x$\n&v#00$");  // an added line: the checksum no longer holds
  connect_one();
  u.integrity.verify_checksum = false;
  EXPECT_EQ(run_script(text), 0) << os.log();
  EXPECT_EQ(os.errors(), "");
}

TEST_F(ScriptIntegrity, ChecksumLineWithANonHexDigitIsRefused) {
  std::string text = compiled(kSource);
  text[7] = 'G';
  connect_one();
  EXPECT_EQ(run_script(text), 1);
  EXPECT_EQ(os.log(), refused("Corrupted Update File. (11)", path + ":1",
                              "the checksum line holds a character that is not a hex digit "
                              "(--no-verify runs it all the same)"));
  EXPECT_TRUE(sim->transcript().empty());
}

TEST_F(ScriptIntegrity, StrictRefusesWhatCarriesNoChecksumLine) {
  const struct {
    const char* what;
    std::string text;
    const char* why;
  } cases[] = {
      {"no checksum line", compiled(kSource.substr(kSource.find('\n') + 1)),
       "the script carries no checksum line (___f=), which --strict requires"},
      {"empty", "", "an empty script, which --strict refuses: nothing in it can be verified"},
      {"directives only", "___v=1.0\n", "the script carries no checksum line (___f=), which --strict requires"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    connect_one();
    os.clear();
    u.integrity.strict = true;
    EXPECT_EQ(run_script(c.text), 1);
    EXPECT_EQ(os.log(), refused("Corrupted Update File. (12)", path, c.why));
    EXPECT_TRUE(sim->transcript().empty());
    // Without --strict the same script runs: stored scripts without a
    // checksum line must keep working.
    connect_one();
    os.clear();
    u.integrity.strict = false;
    EXPECT_EQ(run_script(c.text), 0) << os.log();
  }
}

// Every cut of the script: under --strict every one is refused with nothing
// sent; without it, a cut that leaves the checksum line is refused, and one
// inside the checksum line leaves no command line that could run.
TEST_F(ScriptIntegrity, EveryTruncationIsRefusedBeforeAnythingIsSent) {
  const std::string text = compiled(kSource);
  const size_t first_line = text.find('\n') + 1;
  int refused_runs = 0, nothing_sent = 0;
  for (size_t n = 0; n < text.size(); ++n) {
    SCOPED_TRACE("cut at " + std::to_string(n));
    for (bool strict : {false, true}) {
      connect_one();
      os.clear();
      u.integrity.strict = strict;
      int status = run_script(text.substr(0, n));
      if (strict || n >= first_line - 1) {
        EXPECT_EQ(status, 1);
        EXPECT_TRUE(sim->transcript().empty()) << os.log();
        ++refused_runs;
      } else {
        EXPECT_TRUE(sim->bootloader(0).commands().empty()) << os.log();
        ++nothing_sent;
      }
    }
  }
  printf("script truncations: %zu cuts, %d runs refused before the instrument was opened, "
         "%d runs (cut inside the checksum line, without --strict) sent no command\n",
         text.size(), refused_runs, nothing_sent);
}

class PackageIntegrity : public PackageRun {
 protected:
  // The demo's shape: a command section, a binary image and a framed one.
  static PackagePlan firmware_plan() {
    PackagePlan p = plan({0, 1});
    p.sections[0] = command_section("mcmd", ":DISP:TEXT \"Updating\"");
    SectionPlan bin = suited(binary_section(BinHeader{0x20000, 0x21FFF, 0x20, 0x1000}, pattern(96)));
    p.sections[1] = bin;
    return p;
  }
  static std::vector<uint8_t> with_trailer(const PackagePlan& p) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(build_package(p, &bytes, &error)) << error;
    append_package_trailer(&bytes);
    return bytes;
  }
  std::string refused(const std::string& message, const std::string& why) const {
    return updating() + "<12>" + message + "\\n\nstderr<14>tmflash: " + why + "\\n\n" +
           "<12>Device is failed connected. (8)\\n\n" + kPause;
  }
};

TEST_F(PackageIntegrity, TrailerChangesNothingOfARun) {
  connect_unchecked();
  write_package(firmware_plan());
  ASSERT_EQ(run_package(), 0) << os.log();
  std::string without = os.log();
  std::vector<uint8_t> flash_without = sim->bootloader(0).flash(0x20000, 96);

  connect_unchecked();
  os.clear();
  write_bytes(with_trailer(firmware_plan()));
  ASSERT_EQ(run_package(), 0) << os.log();
  EXPECT_EQ(os.log(), without);
  EXPECT_EQ(sim->bootloader(0).flash(0x20000, 96), flash_without);
  EXPECT_EQ(flash_without, pattern(96));
}

TEST_F(PackageIntegrity, DamagedPackageIsRefusedBeforeTheInstrumentIsOpened) {
  std::vector<uint8_t> bytes = with_trailer(firmware_plan());
  const int64_t crc_at = static_cast<int64_t>(bytes.size()) - kTrailerSize + kTrailerCrcOffset;
  const int64_t length_at = static_cast<int64_t>(bytes.size()) - kTrailerSize + kTrailerLengthOffset;
  const uint32_t stored = get_le32(&bytes[bytes.size() - 4]);
  std::vector<uint8_t> flipped = bytes;
  flipped[2100] ^= 0x04;  // an image byte: every other check passes it
  uint32_t computed = crc32_update(0, flipped.data(), flipped.size() - kTrailerSize);
  char crcs[64];
  snprintf(crcs, sizeof crcs, "is 0x%08X, the trailer says 0x%08X", computed, stored);
  connect_unchecked();
  write_bytes(flipped);
  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(os.log(), refused("Corrupted Update File. (10-7)",
                              path + ": byte " + std::to_string(crc_at) + ": the CRC-32 of the " +
                                  std::to_string(bytes.size() - kTrailerSize) + " bytes before the integrity trailer " +
                                  crcs + ": the file is damaged"));
  EXPECT_TRUE(sim->transcript().empty());

  std::vector<uint8_t> grown = bytes;
  grown.insert(grown.begin() + 1968, 0x00);
  connect_unchecked();
  os.clear();
  write_bytes(grown);
  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(os.log(), refused("Corrupted Update File. (10-7)",
                              path + ": byte " + std::to_string(length_at + 1) + ": the integrity trailer covers " +
                                  std::to_string(bytes.size() - kTrailerSize) + " bytes, but " +
                                  std::to_string(grown.size() - kTrailerSize) +
                                  " bytes lie before it: the file was cut or added to"));
  EXPECT_TRUE(sim->transcript().empty());
}

// Every cut of a package with its trailer is refused before the instrument
// is opened, but one: the cut that takes off exactly the whole trailer
// leaves a whole package without one, which runs as such a package always
// has (every byte of its image intact) and which --strict refuses.
TEST_F(PackageIntegrity, EveryTruncationIsRefusedBeforeTheInstrumentIsOpened) {
  const std::vector<uint8_t> bytes = with_trailer(firmware_plan());
  const size_t whole = bytes.size() - kTrailerSize;
  int refused_runs = 0;
  for (size_t n = 0; n < bytes.size(); ++n) {
    SCOPED_TRACE("cut at " + std::to_string(n));
    connect_unchecked();
    os.clear();
    write_bytes(std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
    if (n == whole) {
      EXPECT_EQ(run_package(), 0) << os.log();
      EXPECT_EQ(sim->bootloader(0).flash(0x20000, 96), pattern(96));
      connect_unchecked();
      u.integrity.strict = true;
    }
    EXPECT_EQ(run_package(), 1);
    EXPECT_TRUE(sim->transcript().empty()) << os.log();
    refused_runs += sim->transcript().empty();
    u.integrity.strict = false;
  }
  printf("package truncations: %zu cuts, %d refused before the instrument was opened (the cut of the whole "
         "trailer under --strict)\n",
         bytes.size(), refused_runs);
}

TEST_F(PackageIntegrity, StrictRefusesAPackageWithoutTheTrailer) {
  connect_unchecked();
  u.integrity.strict = true;
  write_package(firmware_plan());
  EXPECT_EQ(run_package(), 1);
  EXPECT_EQ(os.log(), refused("Corrupted Update File. (10-8)",
                              path + ": the package carries no integrity trailer, which --strict requires"));
  EXPECT_TRUE(sim->transcript().empty());

  connect_unchecked();
  os.clear();
  write_bytes(with_trailer(firmware_plan()));
  EXPECT_EQ(run_package(), 0) << os.log();
}

// An instrument that does not answer "syst:info?": without --strict the
// package runs unchecked (instruments whose firmware lacks the query depend
// on it), and the log and report say that nothing was checked; under
// --strict it stops there, nothing flashed.
TEST_F(PackageIntegrity, UnansweredInfoQueryIsRecordedOrUnderStrictRefused) {
  for (bool strict : {false, true}) {
    SCOPED_TRACE(strict ? "--strict" : "default");
    sim::SimConfig config;
    config.instruments.push_back(instrument(kMainA, kBootA));
    config.instruments.back().syst_info = "";
    connect(std::move(config));
    os.clear();
    RunRecorder recorder(os, [] { return int64_t{0}; });
    u.run_observer = &recorder;
    u.observer = &recorder;
    u.integrity.strict = strict;
    write_bytes(with_trailer(firmware_plan()));
    const std::string skipped = "compatibility check skipped: the instrument did not answer syst:info?";
    std::string before = updating() + first_dialogue() +
                         "<12>Device is failed connected. (6)\\nDevice isn't get info(1)\\n";
    if (strict) {
      EXPECT_EQ(run_package(), 1);
      EXPECT_EQ(os.log(), before + "Corrupted Update File. (9-0)\\n\nstderr<14>tmflash: " + path + ": " + skipped +
                              "; --strict refuses a package whose compatibility cannot be checked\\n\n"
                              "<12>Device is failed connected. (8)\\n\n" + kPause);
      EXPECT_EQ(writes(), (std::vector<std::string>{"*idn?\n", "syst:info?\n"}));
      EXPECT_TRUE(sim->bootloader(0).commands().empty());
    } else {
      EXPECT_EQ(run_package(), 0) << os.log();
      EXPECT_EQ(os.log().substr(0, before.size() + 1), before + "\n");
      EXPECT_EQ(sim->bootloader(0).flash(0x20000, 96), pattern(96));
    }
    ASSERT_EQ(recorder.record().jobs.size(), 1u);
    EXPECT_EQ(recorder.record().jobs[0].notes, std::vector<std::string>{skipped});
    u.run_observer = nullptr;
    u.observer = nullptr;
  }
}

}  // namespace
