// Taking a package file apart into the description tmpack reads (its format
// is at the top of tools/tmpack.cc) and the files that description names,
// so that a package from the field can be read, changed and built again.
//
// The description says every field in its own key: the header (magic when
// it is not the usual one, b-command argument, device code, run order),
// every record that is not all zero with its type (command, binary, framed;
// raw where the data fits none of them), its texts, mode, binary flag and
// stored length where that differs from the data. A binary section's image
// goes to a file of its own; a framed section's records become record lines
// (record_raw where a record is no command line, record_length where the
// file ends inside one); bytes after the last section become the trailer.
// What the keys cannot say (bytes after a text's NUL, a text field without
// its NUL) becomes patch lines, found by building the description and
// comparing it with the package byte for byte. An integrity trailer that
// holds is left to tmpack, which writes it again over the same bytes; a
// package without one, or with a damaged one (kept as trailer bytes), gets
// "integrity_trailer = no". unpack_package builds the description it made
// once more, as tmpack does, and gives it only when that gives the package
// back exactly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct UnpackedFile {
  std::string name;  // a plain file name, relative to the description's folder
  std::vector<uint8_t> bytes;
};

struct PackageUnpack {
  std::string description;
  std::vector<UnpackedFile> files;
  int patches = 0;  // patch lines the description needed
};

// Unpacks package (the whole file). name is the package's file name, used in
// the description's first comment and for the names of the files (its stem:
// "firmware.pkg" gives "firmware.section1.bin"). On success fills out and
// returns true; otherwise says why in error (a file shorter than the
// 1968-byte header) and returns false.
bool unpack_package(const std::vector<uint8_t>& package, const std::string& name, PackageUnpack* out,
                    std::string* error);

// Builds a package file from description as tmpack does (build_package_file:
// with its integrity trailer unless it says no), the named files taken
// from files instead of the disk. On success fills bytes and returns true;
// otherwise says why in error.
bool rebuild_package(const std::string& description, const std::vector<UnpackedFile>& files,
                     std::vector<uint8_t>* bytes, std::string* error);
