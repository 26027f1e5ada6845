// What a simulated instrument is and which faults it shows: plain structs
// that a test fills in directly or the description file (sim_file.h) fills
// from text. default_sim_config() is the instrument of `--visa=sim`, the same
// one that examples/sim/default.sim describes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// Which program the instrument runs when the simulator starts.
enum class StartState { kMain, kBootloader };

// Faults of one instrument.
struct InstrumentFaults {
  // The first N commands that the bootloader answers with an echo get a wrong
  // letter ('!') in place of the command letter.
  uint32_t wrong_echo_first = 0;
  // Echo numbers (1-based, counted over the commands the bootloader answers
  // with an echo; version queries are not counted) that get a wrong letter.
  std::vector<uint32_t> wrong_echo_at;
  // After a jump the instrument never comes back.
  bool never_back = false;
  // After a jump the instrument comes back this much later than its reboot time.
  uint32_t late_ms = 0;
};

struct InstrumentConfig {
  // Names the instrument in the transcript and in messages.
  std::string name = "sim0";
  // Resource string of the main firmware.
  std::string main_rsrc = "USB0::0x1234::0x5678::SIM0001::INSTR";
  // Resource string of the bootloader; empty means the same as main_rsrc.
  std::string boot_rsrc;
  // Replies to "*IDN?" (either case). The bootloader's begins with "boot".
  std::string main_idn = "TMSIM,TM1000,SIM0001,1.03\n";
  std::string boot_idn = "boot,TM1000,SIM0001,2.05\n";
  // Reply of the main firmware to "syst:info?".
  std::string syst_info = "0#main#2.10#HW3,-1#SIM1000#\n";
  // Bootloader replies to the version queries: r without payload, r#00.
  std::string boot_version = "2.05#0#HW3";
  std::string main_version = "1.03\n";
  // Replies to the vendor control-IN request (0xC0, bRequest 0). The
  // bootloader's begins with "bt_".
  std::string main_control_in = "mf_1.03";
  std::string boot_control_in = "bt_2.05";
  // Text that makes the main firmware jump when written exactly; empty: none.
  std::string jump_command = "SYST:BOOT";
  // The vendor control-OUT requests 0x40 (device) and 0x41 (interface) with
  // bRequest 0 make the main firmware jump.
  bool control_jump = true;
  // Time from the jump until the bootloader enumerates.
  uint32_t reboot_ms = 1500;
  StartState start = StartState::kMain;
  // What the bootloader sends after the command letter in its echo.
  std::string echo_suffix = "\n";
  // Bytes one erase command clears, from its address on.
  uint32_t erase_block = 0x1000;
  // Content of flash that has not been erased (the old firmware).
  uint8_t flash_fill = 0x00;
  // The bootloader keeps a flash memory that erase and data commands change
  // (and whose rules give flash errors). When false it keeps none: commands
  // are decoded and answered alike, the flash reads as flash_fill throughout
  // and costs no memory, for runs that measure the updater with large images.
  bool flash_model = true;
  InstrumentFaults faults;

  // The bootloader's resource string as it enumerates.
  const std::string& bootloader_rsrc() const { return boot_rsrc.empty() ? main_rsrc : boot_rsrc; }
};

// Faults counted over the simulator's lifetime, over all instruments. Each
// list holds 1-based call numbers of that function.
struct GlobalFaults {
  std::vector<uint32_t> fail_open;     // viOpen fails with VI_ERROR_RSRC_BUSY
  std::vector<uint32_t> fail_write;    // viWrite fails with VI_ERROR_IO, nothing arrives
  std::vector<uint32_t> fail_read;     // viRead fails with VI_ERROR_IO, the reply is lost
  std::vector<uint32_t> timeout_read;  // viRead waits its time-out, VI_ERROR_TMO, reply lost
  std::vector<uint32_t> fail_rm_open;  // viOpenDefaultRM fails with VI_ERROR_SYSTEM_ERROR
  std::vector<uint32_t> fail_search;   // viFindRsrc finds nothing (VI_ERROR_RSRC_NFOUND)
  std::vector<uint32_t> fail_control_in;   // viUsbControlIn fails with VI_ERROR_IO, no data
  std::vector<uint32_t> fail_control_out;  // viUsbControlOut fails with VI_ERROR_IO, nothing arrives
  // The first n viFindRsrc calls see no instrument at all.
  uint32_t empty_searches = 0;
  // From the n-th VISA call on (any of the ten, counted together), every call
  // fails and reaches no instrument: the cable is pulled, or the updater's
  // process is killed and its calls go nowhere. The instruments keep their
  // state (a bootloader stays running, its flash as far as it was written).
  // 0: never.
  uint32_t fail_from = 0;
};

// How many times each VISA call has been made so far (all instruments), and
// all of them together: the call numbers the faults above count.
struct CallCounts {
  uint32_t rm_opens = 0;
  uint32_t searches = 0;
  uint32_t opens = 0;
  uint32_t writes = 0;
  uint32_t reads = 0;
  uint32_t control_ins = 0;
  uint32_t control_outs = 0;
  uint32_t all = 0;
};

struct SimConfig {
  std::vector<InstrumentConfig> instruments;
  GlobalFaults faults;
  // When not empty, the one-line-per-call transcript is appended to this file
  // as the calls happen.
  std::string transcript_path;
  // What the simulator keeps in memory for a test to read afterwards; by
  // default nothing, since a long stream would keep every byte written twice
  // over. keep_transcript: every call, for transcript() and what is read
  // from it (transcript_text(), writes_to(), bytes_written_to(),
  // control_requests()); the transcript file above is written either way.
  // keep_commands: every command the bootloaders decode, for
  // Bootloader::commands().
  bool keep_transcript = false;
  bool keep_commands = false;
  // When not empty, whenever an image is complete (the bootloader's "x"
  // command) the flash every bootloader has programmed so far is written to
  // this file, replacing it: what a test of a simulator in another process
  // (the simulator library, a child tmflash) compares with the image.
  // "{name}" in it gives each instrument a file of its own (its name in
  // place of "{name}"), written when that instrument's image completes.
  std::string flash_path = {};
};

// The configuration of `--visa=sim`: one instrument with the defaults above
// whose bootloader comes back with another product ID.
SimConfig default_sim_config();

}  // namespace sim
