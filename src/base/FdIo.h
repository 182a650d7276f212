#pragma once
#include <cstddef>

namespace kor {

// Writes all length bytes to fd. Interrupted writes are retried; a non-blocking descriptor
// that is full is waited for. Sockets are written with MSG_NOSIGNAL, so a peer that has gone
// gives EPIPE rather than SIGPIPE. False with errno set when a write fails; errno is 0 when
// the descriptor took no bytes at all.
bool writeFully(int fd, const void* data, size_t length);

// For descriptors an event loop polls: non-blocking, and not inherited by programs it runs.
void setNonBlockingAndCloseOnExec(int fd);

}  // namespace kor
