#include "base/Headers.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

namespace kor {

bool waitOnSocketData(int fd, int64_t seconds, int64_t microseconds) {
  struct pollfd entry;
  entry.fd = fd;
  entry.events = POLLIN;
  entry.revents = 0;
  int ready = poll(&entry, 1, static_cast<int>(seconds * 1000 + microseconds / 1000));
  if (ready < 0) {
    if (errno == EINTR) return false;
    int error = errno;
    LOG(FATAL) << "Stack Trace: \n" << symbolizedStackTrace() << "Error: (" << error << "): " << std::strerror(error);
    return false;
  }
  return ready > 0 && (entry.revents & (POLLIN | POLLERR | POLLHUP | POLLNVAL)) != 0;
}

}  // namespace kor
