#include <cstring>

#include "platform/regular_file.h"

const char* file_kind_text(FileKind kind) {
  switch (kind) {
    case FileKind::kRegular: return "a regular file";
    case FileKind::kDirectory: return "a folder";
    case FileKind::kFifo: return "a FIFO";
    case FileKind::kCharacterDevice: return "a character device";
    case FileKind::kBlockDevice: return "a block device";
    case FileKind::kSocket: return "a socket";
    case FileKind::kOther: break;
  }
  return "not a regular file";
}

const char* refusal_text(const FileRefusal& why) {
  switch (why.kind) {
    case FileKind::kRegular: return strerror(why.error);
    case FileKind::kDirectory: return "a folder, not a regular file";
    case FileKind::kFifo: return "a FIFO, not a regular file";
    case FileKind::kCharacterDevice: return "a character device, not a regular file";
    case FileKind::kBlockDevice: return "a block device, not a regular file";
    case FileKind::kSocket: return "a socket, not a regular file";
    case FileKind::kOther: break;
  }
  return "not a regular file";
}
