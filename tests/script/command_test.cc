// program_cmd: the framing of one command, the echo check, and the
// bootloader handshake of the transfer command, against simulated instruments.
#include "script/command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "link/session.h"
#include "script/encoding.h"
#include "support/sim_run.h"

namespace {

class Command : public SimRun {
 protected:
  // Connects one instrument, changed by edit, opens it at position 0 and
  // clears the log. By default it is already running its bootloader.
  template <typename Edit>
  void open_with(Edit edit) {
    sim::InstrumentConfig c = instrument(kMainA, kBootA);
    edit(c);
    connect(sim::SimConfig{{c}, faults, ""});
    int selection = 0;
    ASSERT_EQ(open(&selection), 0);
    os.clear();
  }
  void open_bootloader() {
    open_with([](sim::InstrumentConfig& c) {
      c.start = sim::StartState::kBootloader;
      c.main_rsrc = kBootA;
    });
  }
  void header(const char* text) {
    strcpy(u.upd.des_data, text);
    u.upd.headerlen = static_cast<int>(strlen(text));
    u.upd.i488_en = u.upd.headerlen > 0;
  }
  int run(const std::string& line, int attempt = 0) {
    memset(u.upd.src_data, 0, sizeof u.upd.src_data);
    memcpy(u.upd.src_data, line.data(), line.size());
    return program_cmd(u, 0, attempt);
  }
  std::string last_write() const {
    std::vector<std::string> w = writes();
    return w.empty() ? "<nothing>" : w.back();
  }
  sim::GlobalFaults faults;
};

struct FrameCase {
  const char* name;
  const char* header;
  int binary;
  std::string line;
  std::string sent;
  int result;
};

TEST_F(Command, FramesTheLineForEachSendMode) {
  const FrameCase cases[] = {
      {"text", "", 0, "&w@0000F000$\r\n", "\"&w@0000F000$\"", kCommandDone},
      {"text, header", ":FW:UPD ", 0, "&w@0000F000$\r\n", ":FW:UPD \"&w@0000F000$\"", kCommandDone},
      {"binary", "", 1, "&w@0000F000$\r\n", std::string("&\x01@\0\0\xF0\0$", 8), kCommandDone},
      {"binary, header", ":FW:UPD ", 1, "&w@0000F000$\r\n",
       std::string(":FW:UPD #18&\x01@\0\0\xF0\0$", 19), kCommandDone},
      {"text keeps the digits as written", "", 0, "&d#0a1b$\n", "\"&d#0a1b$\"", kCommandDone},
      {"marker then $", "", 0, "&w#$\n", "\"&w#$\"", kCommandDone},
      {"text after the $ is dropped", "", 0, "^e@00000100$ trailing\n", "\"^e@00000100$\"", kCommandDone},
      // An unknown letter goes out as 0xFF in binary mode; the bootloader
      // cannot know it and answers with something else.
      {"binary, unknown letter", "", 1, "&z$\n", "&\xFF$", kCommandWrongEcho},
  };
  for (const FrameCase& c : cases) {
    open_bootloader();
    header(c.header);
    u.upd.binary = c.binary;
    EXPECT_EQ(run(c.line), c.result) << c.name;
    EXPECT_EQ(last_write(), c.sent) << c.name;
    EXPECT_EQ(os.log(), "") << c.name;  // nothing printed, also for a wrong echo
  }
}

TEST_F(Command, ReplyMustBeginWithTheLetter) {
  faults = {};
  open_with([](sim::InstrumentConfig& c) {
    c.start = sim::StartState::kBootloader;
    c.main_rsrc = kBootA;
    c.faults.wrong_echo_at = {2};
  });
  EXPECT_EQ(run("&e@00000000$\n"), kCommandDone);
  EXPECT_STREQ(u.upd.src_data, "e\n");  // the reply replaced the line
  EXPECT_EQ(run("&e@00001000$\n"), kCommandWrongEcho);
  EXPECT_EQ(run("&e@00002000$\n"), kCommandDone);
  EXPECT_EQ(os.log(), "");
}

struct RefusalCase {
  const char* name;
  int binary;
  std::string line;
  const char* log;
};

TEST_F(Command, MalformedLinesAreRefusedBeforeAnythingIsSent) {
  const RefusalCase cases[] = {
      {"text, unknown letter", 0, "&z$\n", "<12>Corrupted Update File. (2)\\n\npause\n"},
      {"text, odd digits", 0, "&w#123$\n", "<12>Corrupted Update File. (2)\\n\npause\n"},
      {"text, empty line", 0, "\n", "<12>Corrupted Update File. (2)\\n\npause\n"},
      {"text, two underscores", 0, "__x=1\n", "<12>Corrupted Update File. (2)\\n\npause\n"},
      {"binary, no $", 1, "&w#12", "<12>Corrupted Update File. (1)\\n\npause\n"},
      {"binary, empty line", 1, "\n", "<12>Corrupted Update File. (1)\\n\npause\n"},
      // The quoted line and its NUL would not fit des_data.
      {"text, frame too long", 0, "&d#" + std::string(1994, 'A') + "$",
       "<12>Corrupted Update File. (2)\\n\npause\n"},
  };
  for (const RefusalCase& c : cases) {
    open_bootloader();
    u.upd.binary = c.binary;
    EXPECT_EQ(run(c.line), kCommandFailed) << c.name;
    EXPECT_EQ(os.log(), c.log) << c.name;
    EXPECT_TRUE(writes().empty()) << c.name;
  }
}

// command_refusal is what the checks of scripts and packages frame with: it
// must refuse exactly the lines program_cmd refuses, with the same message,
// in either send mode and behind a command header of any length.
TEST_F(Command, RefusalWithoutAnInstrumentAgreesWithProgramCmd) {
  const std::string lines[] = {
      "&w@0000F000$\r\n", "&z$\n", "&w#123$\n", "\n", "&w#", "&w#\n", "&w#12", "&w#$\n", "&x$ tail\n",
      "^q$", "&d#0a1b$", "&dX12$", "ab", "&d#" + std::string(1960, 'A') + "$", "&d#" + std::string(1994, 'A') + "$",
  };
  for (const std::string& head : {std::string(""), std::string(":FW:UPD "), std::string(40, 'H') + " "}) {
    for (int binary : {0, 1}) {
      for (const std::string& line : lines) {
        SCOPED_TRACE("binary " + std::to_string(binary) + ", header " + std::to_string(head.size()) + ", line \"" +
                     line.substr(0, 20) + "\"");
        open_bootloader();
        header(head.c_str());
        u.upd.binary = binary;
        CommandRefusal refusal = command_refusal(line.c_str(), u.upd);
        int result = run(line);
        bool refused = result == kCommandFailed && writes().empty();
        EXPECT_EQ(refusal.message != nullptr, refused) << os.log();
        if (refusal.message != nullptr) {
          EXPECT_EQ(os.log(), std::string("<12>") + (binary ? "Corrupted Update File. (1)" : "Corrupted Update File. (2)") +
                                  "\\n\npause\n");
          EXPECT_STREQ(refusal.message, framing_message(binary));
          EXPECT_NE(refusal.why, nullptr);
        }
      }
    }
  }
}

TEST_F(Command, LongestLineThatFitsIsSent) {
  open_bootloader();
  std::string line = "&d#" + std::string(1992, 'A') + "$";  // 1996 + 2 quotes + NUL = 1999
  EXPECT_EQ(run(line), kCommandDone);
  EXPECT_EQ(last_write(), "\"" + line + "\"");
}

// What a command built from its bytes does: sent, printed and returned.
struct Outcome {
  int result;
  std::vector<std::string> writes;
  std::string log;
};

bool operator==(const Outcome& a, const Outcome& b) {
  return a.result == b.result && a.writes == b.writes && a.log == b.log;
}

void PrintTo(const Outcome& o, std::ostream* os) {
  *os << "result " << o.result << ", " << o.writes.size() << " write(s), log: " << o.log;
}

// A section streamer's data commands take the short way from the image bytes
// to the frame; it must give exactly what their command line would, in every
// send mode, for every size up to and past the command buffers, with bytes
// that look like the frame's own syntax, and for heads that go the long way.
TEST_F(Command, BuiltCommandsDoExactlyWhatTheirCommandLinesDo) {
  const char* headers[] = {"", ":FW:UPD ", ":ABCDEFGHIJKLMNOPQRSTUVW "};  // the last one 24 characters
  const char* heads[] = {"&d#", "^w@", "&z#", "&x$", "&t#"};
  const int sizes[] = {0, 1, 255, 984, 985, 996, 997, 998, 1000};
  for (int binary : {0, 1}) {
    for (const char* header_text : headers) {
      for (const char* head : heads) {
        for (int n : sizes) {
          std::vector<uint8_t> payload(static_cast<size_t>(n));
          for (int i = 0; i < n; ++i) payload[static_cast<size_t>(i)] = static_cast<uint8_t>("$\"\0\xFF#@a"[i % 7] + i);
          std::string what = std::string(binary ? "binary" : "text") + " header \"" + header_text + "\" " + head +
                              " " + std::to_string(n) + " bytes";
          auto outcome = [&](bool built) {
            open_bootloader();
            header(header_text);
            u.upd.binary = binary;
            int result = 0;
            if (built) {
              result = program_built_cmd(u, 0, 0, head, payload.data(), n);
            } else {
              std::string raw = std::string(head, 3) + std::string(payload.begin(), payload.end()) + "$";
              memset(u.upd.src_data, 0, sizeof u.upd.src_data);
              TranStrData(raw.data(), u.upd.src_data, static_cast<int>(raw.size()), kDataSize);
              result = program_cmd(u, 0, 0);
            }
            return Outcome{result, writes(), os.log()};
          };
          Outcome by_line = outcome(false);
          EXPECT_EQ(outcome(true), by_line) << what;
        }
      }
    }
  }
}

TEST_F(Command, FailedExchangeIsReportedAndPaused) {
  faults.timeout_read = {1};
  open_bootloader();
  EXPECT_EQ(run("&x$\n"), kCommandFailed);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (6)\\n\npause\n");
}

TEST_F(Command, RefusalOfATransferCommandInAnUnknownModeIsMessageThree) {
  FileSettings upd;
  for (int mode : {-1, 0, 3, 4, 127}) {
    upd.mode = mode;
    CommandRefusal t = command_refusal("&t$", upd);
    EXPECT_EQ(t.entry_mode, mode < 0 || mode > 3) << mode;
    EXPECT_EQ(t.message != nullptr, t.entry_mode) << mode;
    EXPECT_EQ(command_refusal("&x$", upd).message, nullptr) << mode;  // only "t" uses the mode
  }
  upd.mode = 5;
  EXPECT_STREQ(command_refusal("&t$", upd).message, "Corrupted Update File. (3)\n");
}

TEST_F(Command, UnknownModeFailsOnlyTheTransferCommand) {
  open_bootloader();
  u.upd.mode = 5;
  EXPECT_EQ(run("&w#$\n"), kCommandDone);
  EXPECT_EQ(run("&t$\n"), kCommandFailed);
  EXPECT_EQ(os.log(), "<12>Corrupted Update File. (3)\\n\npause\n");
}

// The handshake from main firmware, per entry mode: what is printed, waited
// and sent until the versions are checked.
class Handshake : public Command {
 protected:
  // Opens an instrument running its main firmware (changed by edit) and sets
  // the update's jump command and accepted versions.
  template <typename Edit>
  void start_main(int mode, Edit edit) {
    open_with(edit);
    u.upd.mode = mode;
    strcpy(u.upd.jump_boot, "SYST:BOOT");
    strcpy(u.upd.boot_version, "2.10");
    strcpy(u.upd.HW_version, "HW3");
    strcpy(u.upd.main_version, ",1.02,1.03,");
  }
  void start_main(int mode) {
    start_main(mode, [](sim::InstrumentConfig&) {});
  }
  // What follows the jump in every mode: the reconnect and the checks.
  const std::string after_jump =
      "sleep 3000\n"
      "<13>select 0:" + kBootA + "\\n\n"
      "<12>different from \\n" + kBootA + "\\n" + kMainA + "\\n\n"
      "<11>please ENTER continue\\n\n"
      "pause\n"
      "<->Bootloader VisaRsrc=" + kBootA + "\\n\n"
      "<->Bootloader version=2.05#0#HW3\\n\n";
};

TEST_F(Handshake, ModeZeroJumpsByTheCommand) {
  start_main(0);
  EXPECT_EQ(run("&t$\r\n"), kCommandDone);
  EXPECT_EQ(os.log(), "<->main *IDN = TMSIM,TM1000,SIM0001,1.03\\n\\n\nsleep 100\n" + after_jump);
  EXPECT_EQ(writes(), (std::vector<std::string>{"*IDN?\n", "SYST:BOOT", "\"&r$\"", "\"&r#00$\""}));
  EXPECT_TRUE(sim->control_requests(0).empty());
  EXPECT_STREQ(u.link.UsbStr, kBootA.c_str());
}

TEST_F(Handshake, ModeZeroWithCommResetJumpsByTheInterfaceRequest) {
  // The written jump command means nothing to this instrument: the request
  // that follows it makes it jump.
  start_main(0, [](sim::InstrumentConfig& c) { c.jump_command = ""; });
  u.upd.comm_reset = 1;
  EXPECT_EQ(run("&t$\n"), kCommandDone);
  EXPECT_EQ(os.log(), "<->main *IDN = TMSIM,TM1000,SIM0001,1.03\\n\\n\nsleep 100\n" + after_jump);
  std::vector<sim::ControlRequest> requests = sim->control_requests(0);
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].bmRequestType, 0x41);
  EXPECT_EQ(sim->machine_commands(0), std::vector<std::string>{"SYST:BOOT"});  // written all the same
}

TEST_F(Handshake, ModeOneProbesAndJumpsByTheDeviceRequest) {
  start_main(1);
  EXPECT_EQ(run("&t$\n"), kCommandDone);
  EXPECT_EQ(os.log(), "<->now version = mf_1.03\\n\n<->jump bootloader....\\n\n" + after_jump);
  std::vector<sim::ControlRequest> requests = sim->control_requests(0);
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].bmRequestType, static_cast<ViInt16>(0xC0));
  EXPECT_EQ(requests[1].bmRequestType, 0x40);
  EXPECT_EQ(writes(), (std::vector<std::string>{"\"&r$\"", "\"&r#00$\""}));
}

TEST_F(Handshake, ModesTwoAndThreeWaitASecondThenWriteTheJump) {
  for (int mode : {2, 3}) {
    start_main(mode);
    EXPECT_EQ(run("&t$\n"), kCommandDone) << mode;
    EXPECT_EQ(os.log(), "sleep 1000\n" + after_jump) << mode;
    EXPECT_EQ(writes(), (std::vector<std::string>{"*IDN?\n", "SYST:BOOT", "\"&r$\"", "\"&r#00$\""}))
        << mode;
  }
}

TEST_F(Handshake, AlreadyInTheBootloaderNoJumpNoReconnect) {
  for (int mode : {0, 1}) {
    open_bootloader();
    strcpy(u.upd.boot_version, "2.10");
    u.upd.mode = mode;
    EXPECT_EQ(run("&t#01$\n"), kCommandDone) << mode;  // a payload goes nowhere
    const char* probe_echo = mode == 0 ? "<->main *IDN = boot,TM1000,SIM0001,2.05\\n\\n\n"
                                       : "<->now version = bt_2.05\\n\n";
    EXPECT_EQ(os.log(), std::string(probe_echo) + "<->Bootloader version=2.05#0#HW3\\n\n") << mode;
    EXPECT_EQ(sim->jumps(0), 0u);
  }
  for (int mode : {2, 3}) {
    open_bootloader();
    u.upd.mode = mode;
    EXPECT_EQ(run("&t$\n"), kCommandFailed) << mode;
    EXPECT_EQ(os.log(), "<12>Device is failed connected. (2)\\n\npause\n") << mode;
  }
}

TEST_F(Handshake, LaterAttemptsSkipTheEchoesAndTheBootloaderCheck) {
  start_main(0);
  EXPECT_EQ(run("&t$\n", 2), kCommandDone);
  EXPECT_EQ(os.log(),
            "sleep 100\nsleep 3000\n"
            "<13>select 0:" + kBootA + "\\n\n"
            "<12>different from \\n" + kBootA + "\\n" + kMainA + "\\n\n"
            "<11>please ENTER continue\\n\npause\n"
            "<->Bootloader VisaRsrc=" + kBootA + "\\n\n");
  EXPECT_EQ(writes(), (std::vector<std::string>{"*IDN?\n", "SYST:BOOT", "\"&r#00$\""}));
}

TEST_F(Handshake, RefusedVersionsPauseAndFail) {
  struct {
    const char* boot;
    const char* hw;
    const char* main;
    const char* tail;
  } cases[] = {
      {"1.00", "", "", "<12>Hardware version is HW3.\\nBootloader version is 2.05.\\nNot support this bootloader. (1)\\n\npause\n"},
      {"", "HW4", "", "<12>Hardware version is HW3.\\nBootloader version is 2.05.\\nNot support this bootloader. (2)\\n\npause\n"},
      {"", "", ",1.02,", "<12>main version don't support\\n\npause\n"},
  };
  for (const auto& c : cases) {
    open_bootloader();
    u.upd.mode = 0;
    strcpy(u.upd.boot_version, c.boot);
    strcpy(u.upd.HW_version, c.hw);
    strcpy(u.upd.main_version, c.main);
    EXPECT_EQ(run("&t$\n"), kCommandFailed);
    EXPECT_EQ(os.log(), std::string("<->main *IDN = boot,TM1000,SIM0001,2.05\\n\\n\n"
                                    "<->Bootloader version=2.05#0#HW3\\n\n") +
                            c.tail);
  }
}

TEST_F(Handshake, FailedProbeOrJumpStopsTheCommand) {
  // Mode 0: the identity query is not answered.
  start_main(0, [](sim::InstrumentConfig& c) { c.main_idn = ""; });
  EXPECT_EQ(run("&t$\n"), kCommandFailed);
  EXPECT_EQ(os.log(), "<12>Device is failed connected. (6)\\n\npause\n");

  // Modes 2 and 3: the write of the jump command fails; the jump paused itself.
  faults.fail_write = {2};
  start_main(2);
  EXPECT_EQ(run("&t$\n"), kCommandFailed);
  EXPECT_EQ(os.log(), "sleep 1000\n<12>Device is failed connected. (5)\\n\npause\n");
  EXPECT_EQ(sim->jumps(0), 0u);
}

}  // namespace
