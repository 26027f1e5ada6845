// The simulated bootloader: answers the identity query, decodes every frame
// written to it (boot_frame.h), answers with the command letter or a version
// text, and keeps a flash memory:
//   e@ADDR   4 payload bytes, big-endian: erases erase_block bytes from ADDR
//   w@ADDR   4 payload bytes, big-endian: sets the write address
//   d#DATA   programs DATA at the write address and advances it
//   x$       marks the image complete
//   r$       answered with the bootloader-version text
//   r#00$    answered with the main-version text
// Every other letter is recorded and echoed. A message that cannot be decoded
// is a protocol error and is answered with "?"; a data command that meets
// flash that is not erased, or comes before any write address, is a flash
// error (the command is still echoed, as a bootloader that does not verify
// would). Markers "#" and "@" mean the same here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "visa/sim/boot_frame.h"
#include "visa/sim/flash.h"
#include "visa/sim/sim_config.h"

namespace sim {

struct SimError {
  enum Kind { kProtocol, kFlash };
  Kind kind;
  std::string what;     // one line
  std::string message;  // the bytes written that caused it
};

class Bootloader {
 public:
  explicit Bootloader(const InstrumentConfig& config);

  // Takes one message written to the bootloader and returns the reply to
  // queue (never empty).
  std::string receive(std::string_view message);

  // Decoded commands in the order they came, with their replies.
  const std::vector<BootCommand>& commands() const { return commands_; }
  const std::vector<SimError>& errors() const { return errors_; }
  size_t error_count(SimError::Kind kind) const;
  // len bytes of flash from addr on.
  std::vector<uint8_t> flash(uint32_t addr, size_t len) const { return flash_.read(addr, len); }
  // An "x" command has been received.
  bool image_complete() const { return complete_; }
  // Where data commands have programmed flash: address and length of each
  // run of consecutive bytes, in address order.
  std::vector<std::pair<uint32_t, uint64_t>> programmed() const;
  // Commands answered with an echo so far (the wrong-echo faults count these).
  uint32_t echoes() const { return echoes_; }

 private:
  std::string execute(BootCommand& cmd);
  std::string echo(char letter);
  void erase(const BootCommand& cmd);
  void set_write_address(const BootCommand& cmd);
  void program(const BootCommand& cmd);
  void flash_error(const BootCommand& cmd, std::string what);
  void note_programmed(uint32_t addr, uint64_t len);

  const InstrumentConfig& config_;
  Flash flash_;
  std::vector<BootCommand> commands_;
  std::vector<SimError> errors_;
  std::vector<std::pair<uint32_t, uint64_t>> programmed_;  // in the order written, runs joined
  uint32_t write_address_ = 0;
  bool have_write_address_ = false;
  bool complete_ = false;
  uint32_t echoes_ = 0;
};

}  // namespace sim
