#include "base/RawSocketUtils.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/Cancellation.h"
#include "base/FdIo.h"
#include "base/Headers.h"
#include "base/Logging.h"
#include "base/StackTrace.h"

namespace kor {

void RawSocketUtils::writeAll(int fd, const char* buffer, size_t length) {
  if (fd < 0) throw std::runtime_error("Invalid file descriptor for writeAll");
  // A peer that closed the socket gives a write error here, never a silent death by SIGPIPE.
  if (writeFully(fd, buffer, length)) return;
  writeFailed(errno);
}

void RawSocketUtils::writeFailed(int error) {
  if (error == 0) throw std::runtime_error("Cannot write to raw socket: socket closed");
  LOG(ERROR) << "Stack Trace: \n" << plainStackTrace() << "Cannot write to raw socket: " << std::strerror(error);
  throw std::runtime_error("Cannot write to raw socket");
}

size_t RawSocketUtils::readSome(int fd, char* buffer, size_t length) {
  if (fd < 0) throw std::runtime_error("Invalid file descriptor for readAll");
  for (;;) {
    if (!waitOnSocketData(fd, 1, 0)) {
      // A reply the caller no longer wants (a waiting read parked in the daemon) is not waited
      // out: the exchange fails at once and the cancelled work goes on to end.
      if (cancellationPending()) throw std::runtime_error("cancelled");
      continue;
    }
    ssize_t n = read(fd, buffer, length);
    if (n > 0) return static_cast<size_t>(n);
    if (n == 0) throw std::runtime_error("Socket has closed abruptly.");
    if (errno == EAGAIN || errno == EINTR) continue;
    int error = errno;
    LOG(ERROR) << "Stack Trace: \n" << plainStackTrace() << "Error reading from raw socket: " << std::strerror(error);
    throw std::runtime_error("Cannot read from raw socket");
  }
}

void RawSocketUtils::readAll(int fd, char* buffer, size_t length) {
  if (fd < 0) throw std::runtime_error("Invalid file descriptor for readAll");
  for (size_t done = 0; done < length;) done += readSome(fd, buffer + done, length - done);
}

}  // namespace kor
