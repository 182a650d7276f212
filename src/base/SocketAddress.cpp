#include "base/SocketAddress.h"

#include <sys/socket.h>

#include <cstring>

namespace kor {

bool makeSocketAddress(const std::string& path, sockaddr_un& address) {
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() > kMaxSocketPathLength) return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace kor
