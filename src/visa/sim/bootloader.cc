#include "visa/sim/bootloader.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

constexpr char kWrongEchoLetter = '!';
constexpr char kProtocolErrorReply[] = "?";
// Room for the longest message the updater writes (its command buffer is
// 2000 bytes), so that the buffers a message is decoded into never grow
// while a section streams.
constexpr size_t kMessageRoom = 2048;

uint32_t big_endian32(std::string_view b) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(b[i]);
  return v;
}

std::string hex32(uint64_t v) {
  char buf[24];
  snprintf(buf, sizeof buf, "0x%08llX", static_cast<unsigned long long>(v));
  return buf;
}

// The longest reply the bootloader can give.
size_t longest_reply(const InstrumentConfig& c) {
  return std::max({c.boot_idn.size(), c.boot_version.size(), c.main_version.size(), 1 + c.echo_suffix.size(),
                   sizeof kProtocolErrorReply});
}

}  // namespace

namespace {
constexpr size_t kProgrammedRunRoom = 64;
}  // namespace

Bootloader::Bootloader(const InstrumentConfig& config, bool keep_commands)
    : config_(config), keep_commands_(keep_commands) {
  if (config.flash_model) flash_.emplace(config.flash_fill);
  last_.raw.reserve(kMessageRoom);
  last_.payload.reserve(kMessageRoom);
  reply_.reserve(longest_reply(config));
  // Room for the runs of a package's sections, so that the first data
  // command of a section does not allocate while it streams.
  programmed_.reserve(kProgrammedRunRoom);
}

const std::string& Bootloader::receive(std::string_view message) {
  last_ok_ = false;
  if (is_identity_query(message)) return reply_.assign(config_.boot_idn);
  if (!decode_boot_message(message, &last_, &why_)) {
    errors_.push_back({SimError::kProtocol, why_, std::string(message)});
    return reply_.assign(kProtocolErrorReply);
  }
  last_ok_ = true;
  ++counts_[static_cast<unsigned char>(last_.letter)];
  execute(last_);
  last_.reply.assign(reply_);
  if (keep_commands_) commands_.push_back(last_);
  return reply_;
}

size_t Bootloader::error_count(SimError::Kind kind) const {
  return static_cast<size_t>(
      std::count_if(errors_.begin(), errors_.end(), [kind](const SimError& e) { return e.kind == kind; }));
}

std::vector<uint8_t> Bootloader::flash(uint32_t addr, size_t len) const {
  if (flash_) return flash_->read(addr, len);
  uint64_t end = std::min(uint64_t{addr} + len, uint64_t{1} << 32);
  return std::vector<uint8_t>(static_cast<size_t>(end - addr), config_.flash_fill);
}

// Sets reply_ to what the command is answered with.
void Bootloader::execute(const BootCommand& cmd) {
  switch (cmd.letter) {
    case 'r':
      if (cmd.payload.empty()) {
        reply_.assign(config_.boot_version);
        return;
      }
      if (cmd.payload == std::string_view("\0", 1)) {
        reply_.assign(config_.main_version);
        return;
      }
      break;
    case 'e': erase(cmd); break;
    case 'w': set_write_address(cmd); break;
    case 'd': program(cmd); break;
    case 'x': complete_ = true; break;
    default: break;
  }
  echo(cmd.letter);
}

void Bootloader::echo(char letter) {
  ++echoes_;
  const InstrumentFaults& f = config_.faults;
  bool wrong = echoes_ <= f.wrong_echo_first ||
               std::find(f.wrong_echo_at.begin(), f.wrong_echo_at.end(), echoes_) != f.wrong_echo_at.end();
  reply_.assign(1, wrong ? kWrongEchoLetter : letter);
  reply_.append(config_.echo_suffix);
}

void Bootloader::erase(const BootCommand& cmd) {
  if (cmd.payload.size() != 4) return flash_error(cmd, "erase needs a 4-byte address");
  if (flash_) flash_->erase(big_endian32(cmd.payload), config_.erase_block);
}

void Bootloader::set_write_address(const BootCommand& cmd) {
  if (cmd.payload.size() != 4) return flash_error(cmd, "write address needs 4 bytes");
  write_address_ = big_endian32(cmd.payload);
  have_write_address_ = true;
}

void Bootloader::program(const BootCommand& cmd) {
  if (!have_write_address_) return flash_error(cmd, "data before any write address");
  uint64_t first_bad = 0;
  size_t bad = flash_ ? flash_->program(write_address_, cmd.payload, &first_bad) : 0;
  if (bad != 0) {
    flash_error(cmd, std::to_string(bad) + " byte(s) written to flash that was not erased, first at " +
                         hex32(first_bad));
  }
  note_programmed(write_address_, cmd.payload.size());
  // The address wraps like a 32-bit register would; the bytes past the end
  // were refused above.
  write_address_ += static_cast<uint32_t>(cmd.payload.size());
}

// Data commands mostly follow each other: the last run grows, so a long
// stream costs nothing here.
void Bootloader::note_programmed(uint32_t addr, uint64_t len) {
  uint64_t end = std::min<uint64_t>(uint64_t{addr} + len, uint64_t{1} << 32);  // not past the address space
  if (end == addr) return;
  if (!programmed_.empty() && uint64_t{programmed_.back().first} + programmed_.back().second == addr) {
    programmed_.back().second += end - addr;
  } else {
    programmed_.push_back({addr, end - addr});
  }
}

std::vector<std::pair<uint32_t, uint64_t>> Bootloader::programmed() const {
  std::vector<std::pair<uint32_t, uint64_t>> runs = programmed_;
  std::sort(runs.begin(), runs.end());
  std::vector<std::pair<uint32_t, uint64_t>> joined;
  for (const auto& [addr, len] : runs) {
    if (!joined.empty() && uint64_t{joined.back().first} + joined.back().second >= addr) {
      uint64_t end = std::max(uint64_t{joined.back().first} + joined.back().second, uint64_t{addr} + len);
      joined.back().second = end - joined.back().first;
    } else {
      joined.push_back({addr, len});
    }
  }
  return joined;
}

void Bootloader::flash_error(const BootCommand& cmd, std::string what) {
  errors_.push_back({SimError::kFlash, std::move(what), cmd.raw});
}

}  // namespace sim
