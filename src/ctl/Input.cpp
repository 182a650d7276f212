#include "ctl/Input.h"

#include <unistd.h>

#include "base/ControlClient.h"

namespace kor {

int sendInput(const std::string& name, const std::string& bytes, bool hidden) {
  uint8_t replyType = 0;
  std::string reply;
  return controlExchange(name, hidden ? kHiddenInput : kInput, bytes, replyType, reply, false) ? 0 : 1;
}

std::string readStdin() {
  std::string all;
  char buffer[4096];
  ssize_t n;
  while ((n = read(0, buffer, sizeof buffer)) > 0) all.append(buffer, static_cast<size_t>(n));
  return all;
}

std::string keyBytes(const std::string&) { return ""; }  // the key table lands with the input commands

}  // namespace kor
