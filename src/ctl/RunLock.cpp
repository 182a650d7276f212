#include "ctl/RunLock.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/Cancellation.h"
#include "base/Paths.h"
#include "base/PrivateFile.h"

namespace kor {

namespace {

// How often a waiting run tries the lock again.
constexpr useconds_t kLockRetry = 10000;

}  // namespace

std::string runLockPath(const Endpoint& session) {
  const std::string suffix = ".sock";
  const std::string& path = session.path;
  if (hasSuffixAfterName(path, suffix))
    return path.substr(0, path.size() - suffix.size()) + ".runlock";
  return path + ".runlock";
}

RunLock::~RunLock() {
  if (fd >= 0) close(fd);
}

LockResult takeRunLock(const Endpoint& session, std::chrono::steady_clock::time_point deadline, RunLock& lock,
                       std::string& error) {
  const std::string path = runLockPath(session);
  for (;;) {
    const int fd = openPrivateLockFile(path, error);
    if (fd < 0) return LockResult::kFailed;
    lock.fd = fd;
    for (;;) {
      if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
      if (errno != EWOULDBLOCK && errno != EINTR) {
        error = path + ": " + std::strerror(errno);
        return LockResult::kFailed;
      }
      if (cancellationPending()) return LockResult::kCancelled;
      if (std::chrono::steady_clock::now() >= deadline) return LockResult::kTimedOut;
      usleep(kLockRetry);
    }
    if (stillNamed(fd, path)) return LockResult::kTaken;
    close(fd);  // removed while we waited: the lock is the file under the name now
    lock.fd = -1;
  }
}

}  // namespace kor
