// The instrument's replies: a package job and a script job (the demo's, in
// the entry and send modes the input chooses) run against an instrument whose
// reply texts, and then the replies to its writes one by one, come from the
// input.
//
//   byte 0, bits 0-1   entry mode of the script and the package's sections
//           bit 2      binary frames
//           bit 3      the instrument starts in its bootloader
//           bit 4      its bootloader enumerates under another resource string
//           bit 5      the script job runs first (else the package job)
//   then seven pieces (a length byte and that many bytes): the replies to
//   "*IDN?" in main firmware and in the bootloader, to "syst:info?", to the
//   two version queries, and the two control-IN texts;
//   then one piece per write that reaches the instrument, replacing its own
//   reply; a length byte of 0xFF keeps the instrument's own reply, and so
//   does every write once the input has ended.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/fuzz_harness.h"
#include "fuzz/fuzz_samples.h"

namespace {

constexpr uint8_t kOwnReply = 0xFF;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Pieces in(data, size);
  uint8_t setup = in.byte();
  int mode = setup & 3;
  int binary = (setup >> 2) & 1;

  sim::InstrumentConfig c = fuzz::instrument(setup & 8, setup & 16);
  for (std::string* text : {&c.main_idn, &c.boot_idn, &c.syst_info, &c.boot_version, &c.main_version,
                            &c.main_control_in, &c.boot_control_in}) {
    *text = in.piece();
  }
  sim::SimConfig config;
  config.instruments.push_back(c);
  fuzz::Bench bench(std::move(config));
  bench.on_reply = [&in](const sim::ReplyContext&, std::string* reply) {
    if (in.empty()) return;
    uint8_t length = in.byte();
    if (length == kOwnReply) return;
    in.unread();
    *reply = in.piece();
  };

  std::string script = fuzz::write_scratch("script.txt", fuzz::demo_script(mode, binary));
  std::string package = fuzz::write_scratch("package.pkg", fuzz::demo_package(mode, binary));
  std::string list = setup & 32 ? "total=2\npath0=" + script + "\npt1=" + package + "\n"
                                : "total=2\npt0=" + package + "\npath1=" + script + "\n";
  bench.check_after_run(bench.run_list(list));
  return 0;
}
