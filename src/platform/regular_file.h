// Opening the files a run reads (the list file, scripts, packages) so that
// what is not a regular file is refused at once instead of blocking the run
// or feeding it for ever: a FIFO without a writer blocks an ordinary open,
// and /dev/zero never ends.
#pragma once

#include <cstdio>

// What a path names, as far as opening it for reading goes.
enum class FileKind {
  kRegular,
  kDirectory,
  kFifo,
  kCharacterDevice,
  kBlockDevice,
  kSocket,
  kOther,
};

// Why open_regular_file() gave no file.
struct FileRefusal {
  FileKind kind = FileKind::kRegular;  // kRegular: the open itself failed, see error
  int error = 0;                       // errno of the failed open, or 0
};

// Opens path for binary reading ("rb") without blocking on it, looks at
// what it is, and keeps it only when it is a regular file. Returns the open
// file, which then reads and blocks as any regular file does; nullptr when
// path cannot be opened (why->error set) or is not a regular file
// (why->kind set, the file closed again). why may be null.
FILE* open_regular_file(const char* path, FileRefusal* why);

// The kind in words for messages: "a folder", "a FIFO", "a character
// device", "a block device", "a socket", "not a regular file".
const char* file_kind_text(FileKind kind);

// What a refusal says: "a folder, not a regular file" or the system's
// reason for a failed open ("No such file or directory").
const char* refusal_text(const FileRefusal& why);
