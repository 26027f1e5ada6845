// How the simulated bootloader reads one message written to it. This is
// the instrument's side of the command format, written on its own: it must
// not share code with the updater's encoders, so that a fault in one cannot
// hide in the other.
//
// A message is one of
//   "<command line>"                     text mode, no command header
//   <header> "<command line>"            text mode behind a command header
//   <frame>                              binary mode, no command header
//   <header> #<n><len><frame>            binary mode: IEEE 488.2 definite-
//                                        length block behind the header
// where the command line is: prefix byte, letter, then "$" or a marker
// ("#" or "@") followed by hex digit pairs (either case) and "$"; and the
// binary frame is: prefix byte, letter code (position in "ewdqlbvmrcxt"),
// then "$" alone, or any marker byte, the payload bytes and "$".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// The twelve command letters; a letter's position is its code in binary frames.
inline constexpr std::string_view kCommandLetters = "ewdqlbvmrcxt";

struct BootCommand {
  std::string raw;          // the message as written
  bool binary = false;      // a binary frame (else a quoted command line)
  bool header = false;      // a command header came first
  std::string header_text;  // the header without the space behind it
  bool block = false;       // the frame came in an IEEE 488.2 block
  uint8_t prefix = 0;       // first byte of the command, carried unchecked
  char letter = 0;          // the command letter
  uint8_t marker = '$';     // '$' for a command without payload
  std::string payload;      // payload bytes (text mode: decoded from hex)
  std::string reply;        // what the bootloader answered
};

// Decodes message into *out, replacing what it held (the memory of its
// strings is used again, so a bootloader that decodes every message into one
// BootCommand allocates nothing once its strings have grown). On failure
// returns false and sets *why to the reason (one line); *out is then partly
// filled.
bool decode_boot_message(std::string_view message, BootCommand* out, std::string* why);

// True when message is an identity query: "*IDN?" in any case, optionally
// followed by "\n" or "\r\n".
bool is_identity_query(std::string_view message);

// True when message is text equal to query in any case, optionally followed
// by "\n" or "\r\n".
bool is_query(std::string_view message, std::string_view query);

}  // namespace sim
