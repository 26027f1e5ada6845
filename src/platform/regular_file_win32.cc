// Windows: CreateFile on a named pipe without a server fails at once, and
// the C runtime refuses folders, so the check of what the path names is
// all that is needed: a handle whose type is not a disk file is refused.
// Names go through the platform's rule of names (native.h), so a folder
// whose name is not ASCII opens as the operator wrote it.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>

#include "platform/native.h"
#include "platform/regular_file.h"

FILE* open_regular_file(const char* path, FileRefusal* why) {
  FileRefusal ignored;
  if (why == nullptr) why = &ignored;
  *why = FileRefusal{};
  DWORD attributes = GetFileAttributesW(wide_name(path).c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why->kind = FileKind::kDirectory;
    return nullptr;
  }
  FILE* file = open_file(path, "rb");
  if (file == nullptr) {
    why->error = errno;
    return nullptr;
  }
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  DWORD type = GetFileType(handle);
  if (type != FILE_TYPE_DISK) {
    why->kind = type == FILE_TYPE_PIPE ? FileKind::kFifo
                : type == FILE_TYPE_CHAR ? FileKind::kCharacterDevice
                                         : FileKind::kOther;
    fclose(file);
    return nullptr;
  }
  return file;
}
