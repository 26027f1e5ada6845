#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/standard_streams.h"

namespace {

bool is_closed(int fd) { return fcntl(fd, F_GETFD) == -1 && errno == EBADF; }

}  // namespace

bool open_standard_streams() {
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (!is_closed(fd)) continue;
    // The lowest free descriptor is fd itself: the ones below it are open.
    int opened = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (opened < 0) return false;
    if (opened != fd) {
      bool moved = dup2(opened, fd) == fd;
      close(opened);
      if (!moved) return false;
    }
  }
  return true;
}
