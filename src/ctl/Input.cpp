#include "ctl/Input.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/ControlClient.h"
#include "text/KeyNames.h"
#include "text/Suggest.h"

namespace kor {

int sendInput(const Endpoint& session, const std::string& bytes, bool hidden) {
  uint8_t replyType = 0;
  std::string reply;
  return controlExchange(session, hidden ? kHiddenInput : kInput, bytes, replyType, reply, false) ? 0 : 1;
}

bool keySequence(const std::vector<std::string>& keys, std::string& bytes, std::string& unknown) {
  bytes.clear();
  for (const std::string& key : keys) {
    const std::string named = keyBytes(key);
    if (named.empty()) {
      unknown = key;
      return false;
    }
    bytes += named;
  }
  return true;
}

void reportUnknownKey(const std::string& key) {
  std::fprintf(stderr, "korctl: unknown key '%s'\n", key.c_str());
  const std::vector<std::string> close = closestWords(key, keyNames());
  if (close.empty() || close.size() > 4)  // a guess among many helps less than the list
    std::fputs(keyNamesHelp().c_str(), stderr);
  else
    std::fprintf(stderr, "korctl: did you mean %s?\n", quotedAlternatives(close).c_str());
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
