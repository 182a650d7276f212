#include "ctl/RunLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/Cancellation.h"

namespace kor {

namespace {

// How often a waiting run tries the lock again.
constexpr useconds_t kLockRetry = 10000;

// Whether path still names the file open on fd: gc removes the lock file of a session that
// ended long ago (holding the lock), so a run that waited on that file holds a removed one.
bool stillNamed(int fd, const std::string& path) {
  struct stat held, named;
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
         held.st_dev == named.st_dev;
}

// Opens the lock file; -1 with error set when it is not a private lock file of ours.
int openLockFile(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return -1;
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1) {
    close(fd);
    error = path + ": not a private lock file of this user";
    return -1;
  }
  if ((info.st_mode & 077) != 0) fchmod(fd, 0600);
  return fd;
}

}  // namespace

std::string runLockPath(const Endpoint& session) {
  const std::string suffix = ".sock";
  const std::string& path = session.path;
  if (path.size() > suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
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
    const int fd = openLockFile(path, error);
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
