// Whole runs of update-script jobs through the entry point, against the
// simulated instruments: console, waits, bytes and the flash they leave.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>

#include "script/script_writer.h"
#include "support/sim_run.h"

namespace {

class ScriptJob : public SimRun {
 protected:
  // Writes the script compiled from source and returns its path.
  std::string script(const std::string& name, const std::string& source) {
    std::string text, error;
    EXPECT_TRUE(compile_script(source, &text, &error)) << error;
    scripts[name] = text;
    return dir.write(name, text);
  }
  // The progress line printed before the command line `line` of script name.
  std::string progress(const std::string& name, const std::string& line) {
    const std::string& text = scripts[name];
    size_t end = text.find(line + "\n");
    EXPECT_NE(end, std::string::npos) << line;
    char value[64];
    snprintf(value, sizeof value, "<->update...%.2f%%\\r\n",
             static_cast<double>(end + line.size() + 1) * 100.0 / static_cast<double>(text.size()));
    return value;
  }
  void connect_with(sim::SimConfig config) { connect(std::move(config)); }

  std::map<std::string, std::string> scripts;
};

const std::string kDialogue =
    "<11>USB:LIST\\n\n<13> 0:" + kMainA + "\\n\n<9> 1:Search again\\n\n"
    "<11>please select:\ninput 0\n<13>select 0:" + kMainA + "\\n\n";

const std::string kReconnect =
    "<13>select 0:" + kBootA + "\\n\n"
    "<12>different from \\n" + kBootA + "\\n" + kMainA + "\\n\n"
    "<11>please ENTER continue\\n\npause\n"
    "<->Bootloader VisaRsrc=" + kBootA + "\\n\n";

const std::string kFirmware =
    "@version 2.1\n"
    "@jump SYST:BOOT\n"
    "@boot 2.10\n"
    "@hw HW3\n"
    "@main ,1.03,\n"
    "&t$\n"
    "&e@00010000$\n"
    "&w@00010000$\n"
    "&d#00112233445566778899AABBCCDDEEFF$\n"
    "&d#DEADBEEF$\n"
    "&x$\n";

const std::string kImage = std::string("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16) +
                           "\xDE\xAD\xBE\xEF";

std::string bytes(const std::vector<uint8_t>& v) { return std::string(v.begin(), v.end()); }

TEST_F(ScriptJob, TextModeWithHeaderRunsEndToEnd) {
  connect_one();
  std::string path = script("fw.txt", "@header :FW:UPD\n@u mode=0 binary=0 delay=2000\n" + kFirmware);
  os.answer({"0"});
  EXPECT_EQ(run_list("total=1\npath0=" + path + "\n"), 0);
  EXPECT_EQ(os.log(),
            "<10>file(" + path + ") updating...\\n\n" + kDialogue +
                "<10>  update to version(2.1)\\n\n" +
                progress("fw.txt", "&t$") +
                "<->main *IDN = TMSIM,TM1000,SIM0001,1.03\\n\\n\n"
                "sleep 100\n"
                "sleep 2000\n" + kReconnect +
                "<->Bootloader version=2.05#0#HW3\\n\n" +
                progress("fw.txt", "&e@00010000$") + progress("fw.txt", "&w@00010000$") +
                progress("fw.txt", "&d#00112233445566778899AABBCCDDEEFF$") +
                progress("fw.txt", "&d#DEADBEEF$") +
                "<->update...100.00%\\r\n"
                "<->\\nUpdate Ok\\n\n");
  EXPECT_EQ(bytes(sim->flash(0, 0x10000, 20)), kImage);
  EXPECT_EQ(bytes(sim->flash(0, 0x10014, 4)), "\xFF\xFF\xFF\xFF");  // erased, not written
  EXPECT_TRUE(sim->bootloader(0).image_complete());
  EXPECT_TRUE(sim->bootloader(0).errors().empty());
  EXPECT_EQ(sim->writes_to(0)[2], ":FW:UPD \"&r$\"");
  EXPECT_EQ(sim->writes_to(0)[4], ":FW:UPD \"&e@00010000$\"");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(ScriptJob, EverySendModeLandsTheImageByteForByte) {
  struct {
    const char* name;
    const char* header;
    int binary;
  } cases[] = {
      {"text", "", 0},
      {"text with header", "@header :FW:UPD\n", 0},
      {"binary", "", 1},
      {"binary with header", "@header :FW:UPD\n", 1},
  };
  for (const auto& c : cases) {
    connect_one();
    std::string source = std::string(c.header) + "@u mode=0 binary=" + std::to_string(c.binary) + "\n" + kFirmware;
    std::string path = script("fw.txt", source);
    os.clear();
    os.answer({"0"});
    EXPECT_EQ(run_list("total=1\npath0=" + path + "\n"), 0) << c.name;
    EXPECT_EQ(bytes(sim->flash(0, 0x10000, 20)), kImage) << c.name;
    EXPECT_TRUE(sim->bootloader(0).errors().empty()) << c.name;
    std::string letters;
    for (const sim::BootCommand& cmd : sim->bootloader(0).commands()) {
      letters += cmd.letter;
      EXPECT_EQ(cmd.binary, c.binary == 1) << c.name;
      EXPECT_EQ(cmd.header, c.header[0] != '\0') << c.name;
      EXPECT_EQ(cmd.block, c.binary == 1 && c.header[0] != '\0') << c.name;
    }
    EXPECT_EQ(letters, "rrewddx") << c.name;
    EXPECT_NE(os.log().find("<->\\nUpdate Ok\\n\n"), std::string::npos) << c.name;
  }
}

TEST_F(ScriptJob, WrongEchoThreeTimesThenRightSucceedsAfterThreeWaits) {
  sim::InstrumentConfig c = instrument(kMainA, kBootA);
  c.faults.wrong_echo_first = 3;
  connect_with(sim::SimConfig{{c}, {}, ""});
  std::string path = script("fw.txt", "@u mode=0\n@jump SYST:BOOT\n&t$\n&e@00000000$\n");
  std::string t = progress("fw.txt", "&t$");
  std::string e = progress("fw.txt", "&e@00000000$");
  os.answer({"0"});
  EXPECT_EQ(run_list("total=1\npath0=" + path + "\n"), 0);
  // The first attempt makes the jump; the later ones find the bootloader
  // running, echo nothing and skip the bootloader check.
  EXPECT_EQ(os.log(),
            "<10>file(" + path + ") updating...\\n\n" + kDialogue + t +
                "<->main *IDN = TMSIM,TM1000,SIM0001,1.03\\n\\n\n"
                "sleep 100\nsleep 3000\n" + kReconnect +
                "<->Bootloader version=2.05#0#HW3\\n\n" + e +
                "sleep 800\n" + t + e +
                "sleep 800\n" + t + e +
                "sleep 800\n" + t + e +
                "<->\\nUpdate Ok\\n\n");
  EXPECT_EQ(sim->jumps(0), 1u);
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(ScriptJob, WrongEchoFourTimesIsMessageEight) {
  sim::InstrumentConfig c = instrument(kMainA, kBootA);
  c.start = sim::StartState::kBootloader;
  c.main_rsrc = kBootA;
  c.faults.wrong_echo_first = 4;
  connect_with(sim::SimConfig{{c}, {}, ""});
  std::string path = script("fw.txt", "&e@00000000$\n&x$\n");
  std::string e = progress("fw.txt", "&e@00000000$");
  os.answer({"0"});
  EXPECT_EQ(run_list("total=2\npath0=" + path + "\nscmd1=echo never\n"), 1);
  EXPECT_EQ(os.log(), "<10>file(" + path + ") updating...\\n\n" +
                          "<11>USB:LIST\\n\n<13> 0:" + kBootA + "\\n\n<9> 1:Search again\\n\n"
                          "<11>please select:\ninput 0\n<13>select 0:" + kBootA + "\\n\n" +
                          e + "sleep 800\n" + e + "sleep 800\n" + e + "sleep 800\n" + e + "sleep 800\n"
                          "<12>Device is failed connected. (8)\\n\npause\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(ScriptJob, MissingScriptFailsBeforeTheInstrumentIsOpened) {
  connect_one();
  EXPECT_EQ(run_list("total=1\npath0=" + dir.file("absent.txt") + "\n"), 1);
  EXPECT_EQ(os.log(), "<12>Corrupted Update File. (5)\\n\nstderr<14>tmflash: " + dir.file("absent.txt") +
                          ": cannot open: No such file or directory\\n\npause\n");
  EXPECT_TRUE(sim->transcript().empty());
}

TEST_F(ScriptJob, EmptyAndDirectiveOnlyScriptsOpenAndCloseTheInstrument) {
  connect_one();
  std::string empty = script("empty.txt", "");
  std::string directives = script("dir.txt", "@version 3.0\n@u mode=1\n@company ACME\n");
  os.answer({"0"});
  EXPECT_EQ(run_list("total=2\npath0=" + empty + "\npath1=" + directives + "\n"), 0);
  EXPECT_EQ(os.log(), "<10>file(" + empty + ") updating...\\n\n" + kDialogue +
                          "<10>file(" + directives + ") updating...\\n\n"
                          "<13>select 0:" + kMainA + "\\n\n"
                          "<10>  update to version(3.0)\\n\n"
                          "<->\\nUpdate Ok\\n\n");
  EXPECT_TRUE(sim->writes_to(0).empty());
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(ScriptJob, LineWithTwoUnderscoresIsACommandLineAndFails) {
  connect_one();
  std::string path = script("bad.txt", "__x=1\n&x$\n");
  os.answer({"0"});
  EXPECT_EQ(run_list("total=1\npath0=" + path + "\n"), 1);
  EXPECT_EQ(os.log(), "<10>file(" + path + ") updating...\\n\n" + kDialogue + progress("bad.txt", "__x=1") +
                          "<12>Corrupted Update File. (2)\\n\npause\n");
  EXPECT_EQ(sim->open_handles(), 0u);
}

TEST_F(ScriptJob, LineLongerThanTheBufferIsRefused) {
  connect_one();
  std::string path = script("long.txt", "&d#" + std::string(2000, 'A') + "$\n&x$\n");
  os.answer({"0"});
  EXPECT_EQ(run_list("total=1\npath0=" + path + "\n"), 1);
  EXPECT_NE(os.log().find("<->update...99.80%\\r\n<12>Corrupted Update File. (2)\\n\npause\n"),
            std::string::npos)
      << os.log();
  EXPECT_TRUE(sim->writes_to(0).empty());
}

TEST_F(ScriptJob, ProgressCountsEveryByteReadSoFar) {
  // 200 bytes; the first command line ends at byte 50.
  std::string text = "___c=" + std::string(34, 'A') + "\n" + "&v#00$   \n" + "___c=" + std::string(144, 'B') + "\n";
  ASSERT_EQ(text.size(), 200u);
  sim::InstrumentConfig c = instrument(kBootA, "");
  c.start = sim::StartState::kBootloader;
  connect_with(sim::SimConfig{{c}, {}, ""});
  os.answer({"0"});
  EXPECT_EQ(run_list("total=1\npath0=" + dir.write("p.txt", text) + "\n"), 0);
  EXPECT_NE(os.log().find("<->update...25.00%\\r\n<->\\nUpdate Ok"), std::string::npos) << os.log();
  EXPECT_EQ(os.screen(), "file(" + dir.file("p.txt") + ") updating...\nUSB:LIST\n 0:" + kBootA +
                             "\n 1:Search again\nplease select:select 0:" + kBootA +
                             "\nupdate...25.00%\nUpdate Ok\n");
}

TEST_F(ScriptJob, ModeOutlivesTheScriptButSendModeAndDelayDoNot) {
  connect_one();
  std::string first = script("one.txt", "@u mode=2 binary=1 delay=2000\n@jump SYST:BOOT\n&t$\n");
  std::string second = script("two.txt", "&e@00000000$\n&t$\n");
  os.answer({"0"});
  EXPECT_EQ(run_list("total=2\npath0=" + first + "\npath1=" + second + "\n"), 1);
  // The second script: binary 0 (text frame), mode 2 (the bootloader that
  // the first one left running stops it).
  std::vector<std::string> w = sim->writes_to(0);
  ASSERT_GE(w.size(), 2u);
  EXPECT_EQ(w[w.size() - 2], "\"&e@00000000$\"");
  EXPECT_EQ(w.back(), "*IDN?\n");
  std::string log = os.log();
  EXPECT_NE(log.find("sleep 1000\n"), std::string::npos);
  EXPECT_NE(log.find("sleep 2000\n"), std::string::npos);
  std::string tail = "<10>file(" + second + ") updating...\\n\n<13>select 0:" + kBootA + "\\n\n" +
                     progress("two.txt", "&e@00000000$") + progress("two.txt", "&t$") +
                     "<12>Device is failed connected. (2)\\n\npause\n";
  EXPECT_TRUE(log.ends_with(tail)) << log;
}

}  // namespace
