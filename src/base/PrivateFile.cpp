#include "base/PrivateFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/FdIo.h"

namespace kor {

namespace {

std::string failure(const std::string& what, const std::string& path, int error) {
  return what + " " + path + ": " + std::strerror(error);
}

std::string parentOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Writes, syncs and closes fd; the reason on failure.
std::string writeAndSync(int fd, const std::string& temporary, const std::string& content) {
  std::string error;
  if (fchmod(fd, 0600) != 0) error = failure("cannot set the mode of", temporary, errno);
  else if (!writeFully(fd, content.data(), content.size()))
    error = failure("cannot write", temporary, errno ? errno : EIO);
  else if (fsync(fd) != 0) error = failure("cannot sync", temporary, errno);
  if (close(fd) != 0 && error.empty()) error = failure("cannot close", temporary, errno);
  return error;
}

}  // namespace

std::string replaceFileAtomically(const std::string& path, const std::string& temporary, const std::string& content) {
  const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = open(temporary.c_str(), flags, 0600);
  if (fd < 0 && errno == EEXIST) {  // a leftover, or something planted: removing a link never touches its target
    unlink(temporary.c_str());
    fd = open(temporary.c_str(), flags, 0600);
  }
  if (fd < 0) return failure("cannot create", temporary, errno);
  std::string error = writeAndSync(fd, temporary, content);
  if (error.empty() && rename(temporary.c_str(), path.c_str()) != 0)
    error = failure("cannot rename into place", path, errno);
  if (!error.empty()) {
    unlink(temporary.c_str());
    return error;
  }
  int dir = open(parentOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {  // the new name lasts through a crash
    fsync(dir);
    close(dir);
  }
  return "";
}

int openPrivateLockFile(const std::string& path, std::string& error) {
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
  if (fd < 0) {
    error = errno == ELOOP ? "refusing lock file " + path + ": it is a symbolic link"
                           : failure("cannot open lock file", path, errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) error = failure("cannot inspect lock file", path, errno);
  else if (!S_ISREG(st.st_mode)) error = "refusing lock file " + path + ": not a regular file";
  else if (st.st_uid != geteuid()) error = "refusing lock file " + path + ": it belongs to uid " + std::to_string(st.st_uid);
  else if (st.st_nlink != 1) error = "refusing lock file " + path + ": it has other names (hard links)";
  else if ((st.st_mode & 07777) != 0600 && fchmod(fd, 0600) != 0) error = failure("cannot set the mode of", path, errno);
  if (!error.empty()) {
    close(fd);
    return -1;
  }
  return fd;
}

bool stillNamed(int fd, const std::string& path) {
  struct stat held, named;
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
         held.st_dev == named.st_dev;
}

}  // namespace kor
