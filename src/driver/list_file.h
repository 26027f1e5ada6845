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

#include "base/results.h"
#include "driver/updater.h"

constexpr int kListLineSize = 100; // fgets() buffer: at most 99 characters per read

// Reads the list file at path. Returns 0 when the whole file was read; 1
// after printing "Update file is not complete. (1)" when it cannot be opened,
// or the message of the GetData() that stopped the reading.
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
