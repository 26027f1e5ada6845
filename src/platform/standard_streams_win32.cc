// Windows: a standard handle that is missing (a launcher passed none) or
// names no open object (a handle number the parent never made ours) is put
// on NUL, in the system's table (GetStdHandle, and what shell commands
// inherit) and in the C runtime's descriptors 0, 1 and 2 alike. Left as it
// is, a handle number that is not open in this process is free: the first
// file the program opened could take it, and the console calls and shell
// commands would then read and write that file.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/standard_streams.h"

namespace {

struct StandardStream {
  DWORD id;
  int fd;
  FILE* file;
  bool input;
};

bool is_usable(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  SetLastError(NO_ERROR);
  // FILE_TYPE_UNKNOWN with an error: the number is not an open handle.
  return GetFileType(handle) != FILE_TYPE_UNKNOWN || GetLastError() == NO_ERROR;
}

bool open_on_null_device(const StandardStream& s) {
  SECURITY_ATTRIBUTES inherited{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};  // shell commands get it too
  HANDLE nul = CreateFileW(L"NUL", s.input ? GENERIC_READ : GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           &inherited, OPEN_EXISTING, 0, nullptr);
  if (nul == INVALID_HANDLE_VALUE) return false;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(nul), s.input ? _O_RDONLY : _O_WRONLY);
  if (fd < 0) {
    CloseHandle(nul);
    return false;
  }
  // The runtime keeps descriptors 0 to 2 for the standard streams even when
  // their handles are missing, so fd is another one: the runtime's
  // descriptor gets a copy, fd and its handle go.
  bool moved = fd == s.fd || _dup2(fd, s.fd) == 0;
  if (fd != s.fd) _close(fd);
  if (!moved) return false;
  clearerr(s.file);
  return SetStdHandle(s.id, reinterpret_cast<HANDLE>(_get_osfhandle(s.fd))) != 0;
}

}  // namespace

bool open_standard_streams() {
  const StandardStream streams[] = {
      {STD_INPUT_HANDLE, 0, stdin, true},
      {STD_OUTPUT_HANDLE, 1, stdout, false},
      {STD_ERROR_HANDLE, 2, stderr, false},
  };
  for (const StandardStream& s : streams) {
    if (is_usable(GetStdHandle(s.id))) continue;
    if (!open_on_null_device(s)) return false;
  }
  return true;
}
