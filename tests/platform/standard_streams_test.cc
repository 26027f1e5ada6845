// open_standard_streams, in a child process of its own for each case: a
// closed descriptor 0, 1 or 2 is opened on /dev/null, the others are left
// as they are.
#include "platform/standard_streams.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool is_null_device(int fd) {
  struct stat of_fd {}, of_null {};
  return fstat(fd, &of_fd) == 0 && stat("/dev/null", &of_null) == 0 && S_ISCHR(of_fd.st_mode) &&
         of_fd.st_rdev == of_null.st_rdev;
}

// Runs the check in a child; its exit status is 0 when every expectation holds.
int in_child(void (*close_some)(), bool (*holds)()) {
  pid_t pid = fork();
  if (pid == 0) {
    close_some();
    bool ok = open_standard_streams() && holds();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StandardStreams, ClosedOnesAreOpenedOnTheNullDevice) {
  EXPECT_EQ(in_child([] { close(0); },
                     [] { return is_null_device(0) && (fcntl(0, F_GETFL) & O_ACCMODE) == O_RDONLY; }),
            0);
  EXPECT_EQ(in_child([] { close(1); },
                     [] { return is_null_device(1) && (fcntl(1, F_GETFL) & O_ACCMODE) == O_WRONLY; }),
            0);
  EXPECT_EQ(in_child([] { close(2); }, [] { return is_null_device(2); }), 0);
  EXPECT_EQ(in_child([] { close(0), close(1), close(2); },
                     [] { return is_null_device(0) && is_null_device(1) && is_null_device(2); }),
            0);
  // A file opened afterwards does not take a standard descriptor.
  EXPECT_EQ(in_child([] { close(0); },
                     [] {
                       int fd = open("/dev/zero", O_RDONLY);
                       return fd > 2;
                     }),
            0);
}

TEST(StandardStreams, OpenOnesAreLeftAlone) {
  EXPECT_EQ(in_child([] { dup2(open("/dev/zero", O_RDONLY), 0); },
                     [] {
                       char c = 1;
                       return read(0, &c, 1) == 1 && c == 0;  // still /dev/zero
                     }),
            0);
}

}  // namespace
