// --check over list files, scripts and packages written by the test: what it
// prints for a good list, and for a table of broken files the fault it finds,
// with its place and the message the run would give. Nothing may run: the
// recording platform must see prints and nothing else.
#include "driver/check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "package/package_writer.h"
#include "script/script_writer.h"
#include "support/recording_platform.h"
#include "support/temp_dir.h"

namespace {

std::string package_bytes(const PackagePlan& plan) {
  std::vector<uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(build_package(plan, &bytes, &error)) << error;
  return std::string(bytes.begin(), bytes.end());
}

// A package of a command section, a binary section and a framed section,
// like the demo's. Data: section 0 at 1968 ("*RST", 4 bytes), section 1 at
// 1972 (16 + 0x40), section 2 at 2052.
PackagePlan good_plan() {
  PackagePlan p;
  p.b_argument = 0x1000;
  p.device_code = "TM1000";
  p.run_order = {0, 1, 2};
  p.sections[0] = command_section("mcmd", "*RST");
  SectionPlan bin = binary_section({0x20000, 0x21FFF, 0x20, 0x1000}, std::vector<uint8_t>(0x40, 0x11));
  bin.boot_version = "2.10";
  bin.kind = "HW3";
  bin.jump_command = "SYST:BOOT";
  bin.binary_flag = 1;
  p.sections[1] = bin;
  p.sections[2] = framed_section({record_line("&t$"), record_line("&e@00030000$"), record_line("&w@00030000$"),
                                  record_line("^d#0A0B0C$"), record_line("&x$"), record_line("&q$")});
  return p;
}

const std::string kGoodScript =
    "___u=" + u_directive_value(0, 0, 0, 3000) + "\n___l=" + scramble_text("2.05") + "\n___v=1.04\n" +
    "&t$\n&e@00010000$\n&w@00010000$\n&d#0102$\n&x$\n";

class Check : public ::testing::Test {
 protected:
  int check(const std::string& list_text) {
    list = dir.write("update.lst", list_text);
    return check_list(os, list.c_str());
  }

  // Every event is a print: nothing ran, nothing waited, no one was asked.
  void expect_only_prints() {
    for (const RecordingPlatform::Event& e : os.events()) {
      EXPECT_EQ(e.kind, RecordingPlatform::Event::kPrint) << os.log();
    }
  }

  std::vector<std::string> lines() const {
    std::vector<std::string> out;
    std::string text = os.text();
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      out.push_back(text.substr(start, end - start));
      start = end + 1;
    }
    return out;
  }

  RecordingPlatform os;
  TempDir dir;
  std::string list;
};

TEST_F(Check, GoodListPrintsWhatTheRunWouldDoAndExitsZero) {
  std::string script = dir.write("fw.txt", kGoodScript);
  std::string package = dir.write("fw.pkg", package_bytes(good_plan()));
  EXPECT_EQ(check("total=5\ndelay=500\nscmd0=echo hi\nmcmd1=:DISP:TEXT \"x\"\npt2=" + package + "\npath4=" + script +
                  "\n"),
            0);
  expect_only_prints();
  EXPECT_EQ(os.text(),
            "list \"" + list + "\": total=5 delay=500 list_pause=0 debug_mode=0 usb_address=\"USB[0-9]*::?*::INSTR\"\n"
            "job 0: scmd \"echo hi\"\n"
            "job 1: mcmd \":DISP:TEXT \\\"x\\\"\"\n"
            "job 2: pt \"" + package + "\" bytes=2096 trailer=none device_code=\"TM1000\" b_argument=0x1000 run_order=0,1,2\n"
            "  section 0: type=command kind=\"mcmd\" at=1968 length=4 text=\"*RST\"\n"
            "  section 1: type=binary mode=0 binary_flag=1 at=1972 length=80 boot_version=\"2.10\" hardware=\"HW3\" "
            "jump_command=\"SYST:BOOT\" command_header=\"\" start=0x00020000 end=0x00021FFF erase_step=4096 chunk=32 "
            "erases=2 erase=0x00020000..0x00021000 writes=0x00020000+64\n"
            "  section 2: type=framed mode=0 binary_flag=0 at=2052 length=44 boot_version=\"\" hardware=\"\" "
            "jump_command=\"\" command_header=\"\" records=6 erases=1 erase=0x00030000..0x00030000 "
            "writes=0x00030000+3\n"
            "job 4: path \"" + script + "\" lines=8 text_commands=5 binary_commands=0 version=\"1.04\" "
            "command_header=\"\" checksum=none\n"
            "  line 4: transfer mode=0 comm_reset=0 delay=3000 jump=\"\" boot=\"2.05\" main=\"\" hw=\"\"\n"
            "check: faults=0 warnings=0\n");
}

// One broken list: the files it needs, the line --check must print for the
// fault it finds (PATH stands for the test's folder), and the tally.
struct Broken {
  const char* name;
  std::string list;                                        // the list file's text
  std::vector<std::pair<std::string, std::string>> files;  // name, bytes
  std::string line;                                        // the fault or warning line
  std::string tally;                                       // the last line
};

void PrintTo(const Broken& b, std::ostream* out) { *out << b.name; }

class BrokenFiles : public Check, public ::testing::WithParamInterface<Broken> {};

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

TEST_P(BrokenFiles, FindsTheFaultWithItsPlaceAndMessage) {
  const Broken& b = GetParam();
  for (const auto& [name, bytes] : b.files) dir.write(name, bytes);
  std::filesystem::create_directory(dir.file("folder"));
  int status = check(replace_all(b.list, "PATH", dir.path()));
  std::vector<std::string> printed = lines();
  std::string expected = replace_all(b.line, "PATH", dir.path());
  EXPECT_NE(std::find(printed.begin(), printed.end(), expected), printed.end()) << os.text();
  EXPECT_EQ(printed.back(), b.tally);
  EXPECT_EQ(status, b.tally.find("faults=0") != std::string::npos ? 0 : 1);
  expect_only_prints();
}

PackagePlan with(std::function<void(PackagePlan&)> change) {
  PackagePlan p = good_plan();
  change(p);
  return p;
}

std::string bytes_with(size_t at, std::string patch) {
  std::string b = package_bytes(good_plan());
  b.replace(at, patch.size(), patch);
  return b;
}

const std::string kFaults1 = "check: faults=1 warnings=0";

INSTANTIATE_TEST_SUITE_P(
    Check, BrokenFiles,
    ::testing::Values(
        // The list file.
        Broken{"ListTotalOver20", "total=21\n", {},
               "PATH/update.lst:1: fault [Update file is not complete. (3)]: total=21 is over 20", kFaults1},
        Broken{"ListSlotOutside", "total=2\npt2=x.pkg\n", {},
               "PATH/update.lst:2: fault [Update file is not complete. (4)]: job key \"pt2\" names slot 2; total=2 "
               "gives slots 0 .. 1",
               kFaults1},
        Broken{"ListMisspeltKey", "total=1\ntotl=2\nscmd0=true\n", {},
               "PATH/update.lst:2: warning: unknown key \"totl\"; the line is ignored", "check: faults=0 warnings=1"},
        Broken{"ListWithoutJobs", "total=3\n", {},
               "PATH/update.lst: warning: the list file names no job; nothing is run", "check: faults=0 warnings=1"},
        // Scripts.
        Broken{"ScriptMissing", "total=1\npath0=PATH/none.txt\n", {},
               "PATH/none.txt: fault [Corrupted Update File. (5)]: cannot open: No such file or directory", kFaults1},
        Broken{"ScriptOddDigits", "total=1\npath0=PATH/fw.txt\n", {{"fw.txt", "&e@00010000$\n&d#DEADBEE$\n&x$\n"}},
               "PATH/fw.txt:2: fault [Corrupted Update File. (2)]: the command line \"&d#DEADBEE$\" is refused in "
               "text mode: a payload pair is not two hex digits, or its '$' is missing",
               kFaults1},
        Broken{"ScriptBinaryLineWithoutEnd", "total=1\npath0=PATH/fw.txt\n",
               {{"fw.txt", "___u=" + u_directive_value(0, 1, 0, 3000) + "\n&w#12\n"}},
               "PATH/fw.txt:2: fault [Corrupted Update File. (1)]: the command line \"&w#12\" is refused in binary "
               "mode: it ends before its '$'",
               kFaults1},
        Broken{"ScriptBlankLine", "total=1\npath0=PATH/fw.txt\n", {{"fw.txt", "&x$\r\n\r\n&x$\r\n"}},
               "PATH/fw.txt:2: fault [Corrupted Update File. (2)]: the command line \"\" is refused in text mode: it "
               "is shorter than 3 characters",
               kFaults1},
        Broken{"ScriptLineTooLong", "total=1\npath0=PATH/fw.txt\n",
               {{"fw.txt", "&d#" + std::string(2000, '0') + "$\n"}},
               "PATH/fw.txt:1: fault [Corrupted Update File. (2)]: the line is longer than 1999 characters", kFaults1},
        Broken{"ScriptUnknownDirective", "total=1\npath0=PATH/fw.txt\n", {{"fw.txt", "___x=1\n&x$\n"}},
               "PATH/fw.txt:1: warning: directive \"___x=1\" has no known letter; the run ignores it",
               "check: faults=0 warnings=1"},
        // The entry mode survives from a package section to the next script.
        Broken{"ScriptTransferInTheModeAPackageLeft", "total=2\npt0=PATH/mode5.pkg\npath1=PATH/fw.txt\n",
               {{"mode5.pkg", package_bytes(with([](PackagePlan& p) {
                   p.run_order = {2};
                   p.sections[2] = framed_section({record_line("&x$"), record_line("&q$")}, 5);
                 }))},
                {"fw.txt", "&t$\n"}},
               "PATH/fw.txt:1: fault [Corrupted Update File. (3)]: the transfer command \"&t$\" is in entry mode 5; "
               "only 0 .. 3 exist",
               kFaults1},
        // Packages.
        Broken{"PackageMissing", "total=1\npt0=PATH/none.pkg\n", {},
               "PATH/none.pkg: fault [Corrupted Update File. (5)]: cannot open: No such file or directory", kFaults1},
        Broken{"PackageMagic", "total=1\npt0=PATH/fw.pkg\n", {{"fw.pkg", bytes_with(0, "\xD1")}},
               "PATH/fw.pkg: byte 0: fault [Corrupted Update File. (10-1)]: the magic is not D0 47 9B 1B", kFaults1},
        Broken{"PackageKind", "total=1\npt0=PATH/fw.pkg\n", {{"fw.pkg", bytes_with(80, "x")}},
               "PATH/fw.pkg: byte 80: fault [Corrupted Update File. (10-6)]: section 0: a command section of kind "
               "\"xcmd\"; only mcmd and scmd exist",
               kFaults1},
        Broken{"PackageEraseStep", "total=1\npt0=PATH/fw.pkg\n",
               {{"fw.pkg", bytes_with(1972 + 12, std::string(4, '\0'))}},
               "PATH/fw.pkg: byte 1984: fault [Corrupted Update File. (10-4)]: section 1: erase addresses from "
               "0x00020000 by step 0x0 never pass the end address 0x00021FFF",
               kFaults1},
        Broken{"PackageChunkOfThreeDigits", "total=1\npt0=PATH/fw.pkg\n",
               {{"fw.pkg", bytes_with(1972 + 8, std::string("\x00\x01\x00\x00", 4))}},
               "PATH/fw.pkg: byte 1980: fault [Corrupted Update File. (1), Corrupted Update File. (10-5)]: section "
               "1: the command line \"&l#100$\" (chunk size 0x100) is refused in binary mode: it ends before its '$'",
               kFaults1},
        Broken{"PackageRecordLength", "total=1\npt0=PATH/fw.pkg\n",
               {{"fw.pkg", bytes_with(2052 + 5, std::string("\x01\x00", 2))}},
               "PATH/fw.pkg: byte 2057: fault [Corrupted Update File. (10-2)]: section 2: framed record 1 has length "
               "1, outside 2 .. 256",
               kFaults1},
        Broken{"PackageRecordPrefix", "total=1\npt0=PATH/fw.pkg\n", {{"fw.pkg", bytes_with(2052 + 7, "#")}},
               "PATH/fw.pkg: byte 2059: fault [Corrupted Update File. (10-3)]: section 2: framed record 1 begins with "
               "0x23, which is none of ^ & * %",
               kFaults1},
        // Each section's first fault: two here.
        Broken{"PackageWithTwoFaults", "total=1\npt0=PATH/fw.pkg\n",
               {{"fw.pkg", [] {
                   std::string b = bytes_with(80, "x");
                   b[2052 + 7] = '#';
                   return b;
                 }()}},
               "PATH/fw.pkg: byte 2059: fault [Corrupted Update File. (10-3)]: section 2: framed record 1 begins with "
               "0x23, which is none of ^ & * %",
               "check: faults=2 warnings=0"}),
    [](const ::testing::TestParamInfo<Broken>& info) { return std::string(info.param.name); });

TEST_F(Check, ListThatCannotBeReadIsMessageOneWithTheReason) {
  std::filesystem::create_directory(dir.file("folder"));
  for (const auto& [path, why] : {std::pair{dir.file("absent.lst"), std::string("cannot open the list file: No such file "
                                                                                  "or directory")},
                                   std::pair{dir.file("folder"), std::string("cannot open the list file: a folder, not a regular file")}}) {
    os.clear();
    EXPECT_EQ(check_list(os, path.c_str()), 1);
    std::vector<std::string> printed = lines();
    ASSERT_EQ(printed.size(), 3u) << os.text();
    EXPECT_EQ(printed[1], path + ": fault [Update file is not complete. (1)]: " + why);
    EXPECT_EQ(printed[2], "check: faults=1 warnings=0");
    expect_only_prints();
  }
}

}  // namespace
