// open_standard_streams on Windows, in this process: a standard handle that
// is missing, invalid or a number that is no longer open is put on NUL, in
// the system's table and the C runtime's descriptor alike; a usable one is
// left alone. Each case puts the test's own stream back afterwards.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/native.h"
#include "platform/standard_streams.h"
#include "support/temp_dir.h"

namespace {

struct Stream {
  const char* name;
  DWORD id;
  int fd;
  FILE* file;
};

const Stream kStreams[] = {
    {"input", STD_INPUT_HANDLE, 0, stdin},
    {"output", STD_OUTPUT_HANDLE, 1, stdout},
    {"error", STD_ERROR_HANDLE, 2, stderr},
};

// Keeps the stream's descriptor and handle, and puts them back at the end.
class SavedStream {
 public:
  explicit SavedStream(const Stream& s) : s_(s), fd_(_dup(s.fd)), handle_(GetStdHandle(s.id)) { fflush(s.file); }
  ~SavedStream() {
    fflush(s_.file);
    _dup2(fd_, s_.fd);
    _close(fd_);
    SetStdHandle(s_.id, handle_);
    clearerr(s_.file);
  }

 private:
  Stream s_;
  int fd_;
  HANDLE handle_;
};

HANDLE open_for_reading(const std::string& name) {
  return CreateFileW(wide_name(name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
}

// A handle number that was open a moment ago and is not any more: the next
// handle opened is likely to get it.
HANDLE stale_handle(const std::string& file) {
  HANDLE h = open_for_reading(file);
  CloseHandle(h);
  return h;
}

bool is_null_device(HANDLE h) {
  if (GetFileType(h) != FILE_TYPE_CHAR) return false;
  char c;
  DWORD n = 1;
  // NUL: reading gives nothing, writing takes everything.
  return (ReadFile(h, &c, 1, &n, nullptr) && n == 0) || (WriteFile(h, "x", 1, &n, nullptr) && n == 1);
}

TEST(StandardStreamsWindows, MissingOrStaleHandlesAreOpenedOnNul) {
  TempDir dir;
  const std::string data = dir.write("data.txt", "0\n");
  for (const Stream& s : kStreams) {
    for (const char* kind : {"null", "invalid", "stale"}) {
      SCOPED_TRACE(std::string(s.name) + ", " + kind);
      SavedStream saved(s);
      HANDLE broken = std::string(kind) == "null"      ? nullptr
                      : std::string(kind) == "invalid" ? INVALID_HANDLE_VALUE
                                                       : stale_handle(data);
      SetStdHandle(s.id, broken);
      ASSERT_TRUE(open_standard_streams());
      HANDLE now = GetStdHandle(s.id);
      EXPECT_TRUE(is_null_device(now));
      EXPECT_EQ(reinterpret_cast<HANDLE>(_get_osfhandle(s.fd)), now);
      // A file opened afterwards is not taken for the stream.
      HANDLE file = open_for_reading(data);
      EXPECT_NE(file, GetStdHandle(s.id));
      CloseHandle(file);
      if (s.fd == 0) {
        char c;
        EXPECT_EQ(_read(0, &c, 1), 0);  // the operator's input has ended
      }
    }
  }
}

TEST(StandardStreamsWindows, UsableHandlesAreLeftAlone) {
  TempDir dir;
  const std::string data = dir.write("data.txt", "7\n");
  SavedStream saved(kStreams[0]);
  HANDLE file = open_for_reading(data);
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(_dup2(fd, 0), 0);
  _close(fd);
  SetStdHandle(STD_INPUT_HANDLE, reinterpret_cast<HANDLE>(_get_osfhandle(0)));
  HANDLE before = GetStdHandle(STD_INPUT_HANDLE);
  ASSERT_TRUE(open_standard_streams());
  EXPECT_EQ(GetStdHandle(STD_INPUT_HANDLE), before);
  char c = 0;
  EXPECT_EQ(_read(0, &c, 1), 1);
  EXPECT_EQ(c, '7');
}

}  // namespace
