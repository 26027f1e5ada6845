// Streaming one firmware section of a package to the bootloader as device
// commands, one at a time, through program_cmd, with the progress line.
//
// A binary section becomes the command sequence
//   &t$  &b#<arg>$  &v#00$  &l#<chunk>$  &e@<addr>$...  &w@<start>$  &d#<data>$...  &x$
// and a framed section's stored records are sent as they are, up to its 'q'
// record. The package runner has validated the section, opened the
// instrument, set the per-file settings and positioned the file at the
// section's first byte. Nothing is allocated while a section streams.
//
// The data commands of a binary section are framed straight from the image
// bytes (program_built_cmd), and the progress line is written only when its
// text changes: with thousands of commands a section would otherwise write
// the same text thousands of times.
#pragma once

#include <cstdint>
#include <cstdio>

#include "package/package_updater.h"

// Streams a binary section of length bytes. Returns 0 when the section has
// been written; otherwise the non-zero result of program_cmd after its
// message and "Corrupted Update File. (10-5)", or 1 after
// "Corrupted Update File. (10-1)" when the file ends early, or after "(10-4)"
// (nothing sent) when length is below the 16-byte sub-header or the
// sub-header would never end or overrun the command buffers.
int update_bin(PackageUpdater& u, int selection, int attempt, uint32_t length, FILE* file);

// Streams a framed section; length is only the progress line's denominator.
// Returns 0 once the 'q' record has been sent and answered; 1 after
// "Corrupted Update File. (10-2)" for a record length outside 2 .. 256 (or a
// file that ends early), or "(10-3)" for a record whose first byte is not a
// prefix character; otherwise the non-zero result of program_cmd after its
// message and "(10-5)".
int update_img(PackageUpdater& u, int selection, int attempt, uint32_t length, FILE* file);
