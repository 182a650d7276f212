#include "ctl/Input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "base/ControlClient.h"

namespace kor {

int sendInput(const Endpoint& session, const std::string& bytes, bool hidden) {
  uint8_t replyType = 0;
  std::string reply;
  return controlExchange(session, hidden ? kHiddenInput : kInput, bytes, replyType, reply, false) ? 0 : 1;
}

std::string readStdin() {
  std::string all;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(0, buffer, sizeof buffer);
    if (n > 0) {
      all.append(buffer, static_cast<size_t>(n));
    } else if (n == 0) {
      return all;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      pollfd input{0, POLLIN, 0};
      poll(&input, 1, -1);
    } else if (errno != EINTR) {
      throw std::runtime_error(std::strerror(errno));
    }
  }
}

}  // namespace kor
