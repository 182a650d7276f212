#include "base/FdIo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace kor {

bool writeFully(int fd, const void* data, size_t length) {
  const char* bytes = static_cast<const char*>(data);
  bool socket = true;  // until the descriptor says it is none
  size_t done = 0;
  while (done < length) {
    ssize_t n = socket ? send(fd, bytes + done, length - done, MSG_NOSIGNAL) : -1;
    if (socket && n < 0 && errno == ENOTSOCK) socket = false;
    if (!socket) n = write(fd, bytes + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      errno = 0;
      return false;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      struct pollfd writable = {fd, POLLOUT, 0};
      poll(&writable, 1, 100);
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

void setNonBlockingAndCloseOnExec(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
}

}  // namespace kor
