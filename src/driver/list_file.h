// The list file: an INI-like file of run settings and job keys, read once at
// start into the job table (RunList) and the search expression.
//
//   total=3            number of job slots (at most 20); must come before job keys
//   delay=1000         ms to wait after each job
//   list_pause=1       operator pause after each job instead of the delay
//   debug_mode=1       operator pause after "Update Ok"
//   usb_address=EXPR   VISA search expression for the instrument
//   path0=fw.txt       slot 0: update script      mcmd1=*RST   slot 1: machine command
//   scmd2=DELAY 500    slot 2: shell command      pt3=fw.pkg   slot 3: package
//
// Lines starting with ';' or '[' are skipped; there are no real sections.
#pragma once

#include <vector>

#include "base/finding.h"
#include "base/results.h"
#include "driver/updater.h"

constexpr int kListLineSize = 100; // fgets() buffer: at most 99 characters per read

// Reads the list file at path into u.run and u.link.UsbStrFilter, as the run
// reads it, and prints nothing. Adds to findings, in line order, a warning
// for each line the run ignores although it looks meant (an unknown key, a
// line without '=', a line longer than 99 characters; at most one per line)
// and the fault that stops the reading, if one does: "Update file is not
// complete. (1)" when the file cannot be opened or read (with the system's
// reason), "(3)" for a total over 20, "(4)" for a job key whose slot is
// outside 0 .. list_total - 1. Returns 0 when the whole file was read, 1 when
// a fault stopped it (the last finding).
int read_list_file(Updater& u, const char* path, std::vector<Finding>* findings);

// Reads the list file at path. Returns 0 when the whole file was read; 1
// after printing "Update file is not complete. (1)" when it cannot be opened
// or read, or the message of the GetData() that stopped the reading. The
// warnings, and where a fault is and why, go to standard error.
// Writes u.run and u.link.UsbStrFilter.
int OpenIni(Updater& u, const char* path);

// Classifies one line in place: trims its end (line end, control characters,
// blanks and bytes 0x80..0xFF). Returns kSkipLine for a comment, a section
// header or a line that is empty after trimming; otherwise the index of the
// last '=' on the line, or 0 when there is none.
int parser(char* line);

// Applies one key and value. Returns 0 to go on; 1 after printing
// "Update file is not complete. (3)" for a total over 20, or "(4)" for a job
// key whose slot is outside 0 .. list_total - 1.
int GetData(Updater& u, const char* key, const char* value);

// True when a slot the runner walks (0 .. list_total - 1) holds a job.
bool names_a_job(const RunList& run);

// True when a slot the runner walks holds a job that needs the instrument
// (an update script, a machine command or a package).
bool needs_instrument(const RunList& run);
