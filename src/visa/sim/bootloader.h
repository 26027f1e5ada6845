// The simulated bootloader: answers the identity query, decodes every frame
// written to it (boot_frame.h), answers with the command letter or a version
// text, and keeps a flash memory:
//   e@ADDR   4 payload bytes, big-endian: erases erase_block bytes from ADDR
//   w@ADDR   4 payload bytes, big-endian: sets the write address
//   d#DATA   programs DATA at the write address and advances it
//   x$       marks the image complete
//   r$       answered with the bootloader-version text
//   r#00$    answered with the main-version text
// Every other letter is counted and echoed. A message that cannot be decoded
// is a protocol error and is answered with "?"; a data command that meets
// flash that is not erased, or comes before any write address, is a flash
// error (the command is still echoed, as a bootloader that does not verify
// would). Markers "#" and "@" mean the same here. Without the flash model
// (InstrumentConfig::flash_model) erase and data commands change nothing and
// only data before any write address is a flash error.
#pragma once

#include <cstdint>
#include <optional>
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
  // With keep_commands set, every decoded command is kept for commands().
  // The flash memory exists when config.flash_model is set.
  explicit Bootloader(const InstrumentConfig& config, bool keep_commands = false);

  // Takes one message written to the bootloader and returns the reply to
  // queue (never empty), valid until the next message. Every message is
  // decoded into the same buffers: a stream of commands allocates nothing.
  const std::string& receive(std::string_view message);

  // The command the last message decoded to, with its reply; nullptr when it
  // was none (an identity query, a protocol error). Valid until the next message.
  const BootCommand* last_command() const { return last_ok_ ? &last_ : nullptr; }
  // Decoded commands in the order they came, with their replies; empty
  // unless the bootloader keeps them.
  const std::vector<BootCommand>& commands() const { return commands_; }
  // Commands with this letter decoded so far, kept or not.
  uint64_t command_count(char letter) const { return counts_[static_cast<unsigned char>(letter)]; }
  const std::vector<SimError>& errors() const { return errors_; }
  size_t error_count(SimError::Kind kind) const;
  // len bytes of flash from addr on (past the end of the address space the
  // result is cut); without the flash model all flash_fill.
  std::vector<uint8_t> flash(uint32_t addr, size_t len) const;
  // An "x" command has been received.
  bool image_complete() const { return complete_; }
  // Where data commands have programmed flash: address and length of each
  // run of consecutive bytes, in address order.
  std::vector<std::pair<uint32_t, uint64_t>> programmed() const;
  // Commands answered with an echo so far (the wrong-echo faults count these).
  uint32_t echoes() const { return echoes_; }

 private:
  void execute(const BootCommand& cmd);
  void echo(char letter);
  void erase(const BootCommand& cmd);
  void set_write_address(const BootCommand& cmd);
  void program(const BootCommand& cmd);
  void flash_error(const BootCommand& cmd, std::string what);
  void note_programmed(uint32_t addr, uint64_t len);

  const InstrumentConfig& config_;
  bool keep_commands_;
  std::optional<Flash> flash_;
  BootCommand last_;   // the last message decoded
  bool last_ok_ = false;
  std::string reply_;
  std::string why_;
  std::vector<BootCommand> commands_;
  uint64_t counts_[256] = {};
  std::vector<SimError> errors_;
  std::vector<std::pair<uint32_t, uint64_t>> programmed_;  // in the order written, runs joined
  uint32_t write_address_ = 0;
  bool have_write_address_ = false;
  bool complete_ = false;
  uint32_t echoes_ = 0;
};

}  // namespace sim
