// The three standard streams, made safe before the program opens any file.
#pragma once

// Makes sure that standard input, output and error (descriptors 0, 1 and 2
// on POSIX, the standard handles on Windows) are open. One that is closed
// is opened on the null device (/dev/null, NUL): input then ends at once,
// output is discarded.
//
// Without this, a program started with a closed standard stream hands that
// stream's number to the first file it opens, and then reads the
// operator's answers from that file or writes its messages into it (a
// script whose first line is "0" would choose instrument 0).
//
// Call it first in main(), before anything opens a file. Returns true when
// all three are open afterwards; false when a closed one could not be
// opened, and then the program must not go on.
bool open_standard_streams();
