#pragma once
#include <sys/types.h>

namespace kor {

// The user the process at the other end of a connected Unix-domain stream socket runs as
// (for a client: the daemon as it was when it began listening). False when the system
// cannot tell, which callers treat as "not ours".
bool peerUid(int fd, uid_t& uid);

}  // namespace kor
