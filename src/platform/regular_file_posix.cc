#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/regular_file.h"

namespace {

FileKind kind_of(mode_t mode) {
  if (S_ISREG(mode)) return FileKind::kRegular;
  if (S_ISDIR(mode)) return FileKind::kDirectory;
  if (S_ISFIFO(mode)) return FileKind::kFifo;
  if (S_ISCHR(mode)) return FileKind::kCharacterDevice;
  if (S_ISBLK(mode)) return FileKind::kBlockDevice;
  if (S_ISSOCK(mode)) return FileKind::kSocket;
  return FileKind::kOther;
}

}  // namespace

FILE* open_regular_file(const char* path, FileRefusal* why) {
  FileRefusal ignored;
  if (why == nullptr) why = &ignored;
  *why = FileRefusal{};
  // O_NONBLOCK: a FIFO without a writer opens at once instead of waiting
  // for one; O_NOCTTY: a terminal named as a file never becomes ours.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    why->error = errno;
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    why->error = errno;
    close(fd);
    return nullptr;
  }
  why->kind = kind_of(st.st_mode);
  if (why->kind != FileKind::kRegular) {
    close(fd);
    return nullptr;
  }
  // A regular file reads the same either way; back to ordinary reads.
  int flags = fcntl(fd, F_GETFL);
  if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    why->error = errno;
    close(fd);
  }
  return file;
}
