#include "base/PeerCredentials.h"

#include <sys/socket.h>
#include <unistd.h>

namespace kor {

bool peerUid(int fd, uid_t& uid) {
#if defined(SO_PEERCRED) && defined(__linux__)
  struct ucred credentials;
  socklen_t size = sizeof credentials;
  if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &size) != 0 || size != sizeof credentials) return false;
  uid = credentials.uid;
  return true;
#else
  gid_t gid;
  return getpeereid(fd, &uid, &gid) == 0;
#endif
}

}  // namespace kor
