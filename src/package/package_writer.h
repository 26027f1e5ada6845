// Builds package files from a readable description, for tests, examples and
// the tmpack tool. The updater itself never writes packages.
//
// The framed-record encoder here is written on its own, apart from the
// updater's command encodings, so that a fault in one cannot hide in the
// other when tests run packages built here through the updater.
//
// The writer refuses only what cannot be laid out (a text longer than its
// field, more than 32 run-order entries, a malformed command line). Values
// the updater refuses (a command text over 1999 bytes, a chunk size of 0, a
// record length of 257 ...) are written as given, so that tests can build
// the packages that must be refused; raw records, raw sections, trailing
// bytes and byte patches over the finished file reach the rest.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "package/package_format.h"

// One record of a framed section: a command line such as "&e@00001000$" or
// "^d#0A1B$", or the record's raw bytes.
struct FramedRecordPlan {
  std::string line;                // encoded by encode_framed_line unless use_raw
  bool use_raw = false;
  std::vector<uint8_t> raw;        // the record bytes as stored, when use_raw
  bool trailing_nul = false;       // append a NUL that the record length counts
  std::optional<uint16_t> length;  // the stored length; default: the bytes written
};

enum class SectionType { kCommand, kBinary, kFramed, kRaw };

struct SectionPlan {
  SectionType type = SectionType::kCommand;

  // Record fields. Texts must leave room for their NUL.
  std::string boot_version;         // at most 31 characters
  std::string kind;                 // command: "mcmd"/"scmd"; firmware: hardware versions; at most 7
  int mode = 0;                     // bootloader-entry mode, 0 .. 127, for firmware and raw sections
  std::optional<uint8_t> flags;     // replaces the flags the type and mode give
  int8_t binary_flag = 0;
  std::string jump_command;         // at most 24 characters
  std::string command_header;       // at most 24 characters
  std::optional<uint32_t> length;   // replaces the stored length; the data is written as given

  std::string text;                 // kCommand: the command text, no NUL added
  BinHeader bin{};                  // kBinary: the sub-header
  std::vector<uint8_t> image;       // kBinary: the image after the sub-header
  std::vector<FramedRecordPlan> records;  // kFramed, in order
  std::vector<uint8_t> data;        // kRaw: the section data as given
};

struct BytePatch {
  uint32_t offset;  // from the start of the file
  std::vector<uint8_t> bytes;
};

struct PackagePlan {
  uint32_t magic = kPtMagic;
  uint32_t b_argument = 0;
  std::string device_code;                // at most 8 characters, padded with NUL
  std::vector<uint8_t> run_order;         // at most 32 entries; the rest is 0xFF
  std::optional<SectionPlan> sections[kSectionCount];  // absent: an empty record
  std::vector<uint8_t> trailer;           // bytes after the data of the last section
  bool integrity_trailer = true;          // build_package_file appends the integrity trailer
  std::vector<BytePatch> patches;         // written over the finished file, in order
};

// Shorthands for the common cases; set further fields on the result.
SectionPlan command_section(std::string kind, std::string text);
SectionPlan binary_section(BinHeader bin, std::vector<uint8_t> image, int mode = 0);
SectionPlan framed_section(std::vector<FramedRecordPlan> records, int mode = 0);
SectionPlan raw_section(std::vector<uint8_t> data, uint8_t flags);
FramedRecordPlan record_line(std::string line, bool trailing_nul = false);
FramedRecordPlan record_raw(std::vector<uint8_t> bytes, std::optional<uint16_t> length = std::nullopt);

// Encodes a command line as a raw command: prefix, letter, then either "$"
// alone or the marker ('#' or '@'), one byte per pair of hex digits (either
// case) and the closing "$". Nothing may follow the "$". Prefix and letter
// are taken as written. On success appends the bytes to out and returns true;
// otherwise leaves out unchanged, says why in error and returns false.
bool encode_framed_line(std::string_view line, std::vector<uint8_t>* out, std::string* error);

// The bytes of a framed section: per record its uint16 length and its bytes.
bool encode_framed_records(const std::vector<FramedRecordPlan>& records, std::vector<uint8_t>* out,
                           std::string* error);

// Lays out the whole package: header, then the data of sections 0 .. 19 in
// record order, the trailer, and the patches. The flags are 0xFF for a
// command section, 0x80 | mode for a binary one, mode for a framed or raw
// one, unless the plan gives them. On success fills out and returns true;
// otherwise says why in error (naming the section) and returns false.
bool build_package(const PackagePlan& plan, std::vector<uint8_t>* out, std::string* error);

// The package file as tmpack writes it: build_package, then the integrity
// trailer over every byte of it (package_trailer.h), unless the plan says
// integrity_trailer = false.
bool build_package_file(const PackagePlan& plan, std::vector<uint8_t>* out, std::string* error);
