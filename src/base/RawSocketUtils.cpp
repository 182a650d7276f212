#include "base/RawSocketUtils.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/Headers.h"
#include "base/Logging.h"
#include "base/StackTrace.h"

namespace kor {

// A peer that closed the socket must give a write error, not a silent death by SIGPIPE.
static ssize_t writeNoSignal(int fd, const char* buffer, size_t length) {
  ssize_t n = send(fd, buffer, length, MSG_NOSIGNAL);
  if (n < 0 && errno == ENOTSOCK) n = write(fd, buffer, length);
  return n;
}

void RawSocketUtils::writeAll(int fd, const char* buffer, size_t length) {
  if (fd < 0) throw std::runtime_error("Invalid file descriptor for writeAll");
  size_t done = 0;
  while (done < length) {
    ssize_t n = writeNoSignal(fd, buffer + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      throw std::runtime_error("Cannot write to raw socket: socket closed");
    } else if (errno == EAGAIN || errno == EINTR) {
      if (errno == EAGAIN) usleep(100000);
    } else {
      int error = errno;
      LOG(ERROR) << "Stack Trace: \n" << plainStackTrace() << "Cannot write to raw socket: " << std::strerror(error);
      throw std::runtime_error("Cannot write to raw socket");
    }
  }
}

void RawSocketUtils::readAll(int fd, char* buffer, size_t length) {
  if (fd < 0) throw std::runtime_error("Invalid file descriptor for readAll");
  size_t done = 0;
  while (done < length) {
    if (!waitOnSocketData(fd, 1, 0)) continue;
    ssize_t n = read(fd, buffer + done, length - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0) {
      throw std::runtime_error("Socket has closed abruptly.");
    } else if (errno == EAGAIN || errno == EINTR) {
      continue;
    } else {
      int error = errno;
      LOG(ERROR) << "Stack Trace: \n" << plainStackTrace() << "Error reading from raw socket: " << std::strerror(error);
      throw std::runtime_error("Cannot read from raw socket");
    }
  }
}

}  // namespace kor
