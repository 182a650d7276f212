#include "terminal/SessionStoreUnix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "base/FdIo.h"
#include "base/Logging.h"
#include "base/PrivateDir.h"

namespace kor {
namespace session_storage {
namespace {

std::string errnoText(int error) { return std::strerror(error); }

// The four tests every opened session file must pass.
bool isSafeFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && (st.st_mode & 077) == 0 && st.st_uid == getuid() && st.st_nlink == 1;
}

void warnUnsafe(const std::string& name) { LOG(WARNING) << "Skipping unsafe session file '" << name << "'"; }

std::string parentOf(const std::string& path) {
  return std::filesystem::path(path).parent_path().string();
}

}  // namespace

void checkSessionDirectory(const std::string& path, bool allowMissing) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    int error = errno;
    if (allowMissing && error == ENOENT) return;
    throw std::runtime_error("Could not inspect session directory: " + errnoText(error));
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid() || (st.st_mode & 077) != 0)
    throw std::runtime_error("Session directory has unsafe owner or permissions");
}

void checkSessionDirectories(const std::string& dir, bool allowMissing) {
  checkSessionDirectory(parentOf(dir), allowMissing);
  checkSessionDirectory(dir, allowMissing);
}

void ensureSessionDirectory(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    int error = errno;
    if (error != ENOENT) throw std::runtime_error("Could not create session directory: " + errnoText(error));
    if (int failed = makePrivateDir(path))
      throw std::runtime_error("Could not create session directory: " + errnoText(failed));
    if (lstat(path.c_str(), &st) != 0)
      throw std::runtime_error("Could not inspect session directory: " + errnoText(errno));
  }
  if (!S_ISDIR(st.st_mode) || st.st_uid != getuid())
    throw std::runtime_error("Session directory has unsafe owner or is not a directory");
  if ((st.st_mode & 077) != 0 && chmod(path.c_str(), 0700) != 0)
    throw std::runtime_error("Could not set session directory permissions: " + errnoText(errno));
  checkSessionDirectory(path, false);
}

std::optional<std::string> readSessionFile(const std::string& path, const std::string& name,
                                           int64_t* modifiedTime) {
  try {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return std::nullopt;
    if (!S_ISREG(st.st_mode)) {
      warnUnsafe(name);
      return std::nullopt;
    }
    int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    // The descriptor is what gets read, so its own status decides, not the path's.
    if (fstat(fd, &st) != 0 || !isSafeFile(st)) {
      close(fd);
      warnUnsafe(name);
      return std::nullopt;
    }
    if (modifiedTime) *modifiedTime = static_cast<int64_t>(st.st_mtime);
    std::string content;
    char buffer[4096];
    for (;;) {
      ssize_t n = read(fd, buffer, sizeof buffer);
      if (n < 0) {
        if (errno == EINTR) continue;
        close(fd);
        return std::nullopt;
      }
      if (n == 0) break;
      if (content.size() + static_cast<size_t>(n) > kMaxSessionFileSize) {
        close(fd);
        LOG(WARNING) << "Skipping oversized session file '" << name << "'";
        return std::nullopt;
      }
      content.append(buffer, static_cast<size_t>(n));
    }
    close(fd);
    return content;
  } catch (...) {
    return std::nullopt;
  }
}

void writeSessionFileAtomically(const std::string& tempPath, const std::string& finalPath,
                                const std::string& content, bool replace) {
  struct stat st;
  if (lstat(finalPath.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink != 1)
    throw std::runtime_error("Could not replace session file with unsafe hard links");

  int fd = open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("Could not create temp session file: " + errnoText(errno));
  try {
    if (fchmod(fd, 0600) != 0)
      throw std::runtime_error("Could not set session file permissions: " + errnoText(errno));
    if (!writeFully(fd, content.data(), content.size()))
      throw std::runtime_error("Could not write session file: " + errnoText(errno ? errno : EIO));
    if (fsync(fd) != 0) throw std::runtime_error("Could not sync session file: " + errnoText(errno));
    int closing = fd;
    fd = -1;  // close releases the descriptor even when it reports an error
    if (close(closing) != 0) throw std::runtime_error("Could not close session file: " + errnoText(errno));
  } catch (...) {
    if (fd >= 0) close(fd);
    unlink(tempPath.c_str());
    throw;
  }

  if (replace) {
    if (rename(tempPath.c_str(), finalPath.c_str()) != 0) {
      std::error_code code(errno, std::generic_category());
      unlink(tempPath.c_str());
      throw std::runtime_error("Could not move session file into place: " + code.message());
    }
  } else {
    if (link(tempPath.c_str(), finalPath.c_str()) != 0) {
      int error = errno;
      unlink(tempPath.c_str());
      throw std::runtime_error("Could not create session file: " + errnoText(error));
    }
    if (unlink(tempPath.c_str()) != 0) {
      int error = errno;
      unlink(tempPath.c_str());
      throw std::runtime_error("Could not finalize session file: " + errnoText(error));
    }
  }

  int dirFd = open(parentOf(finalPath).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) throw std::runtime_error("Could not open session directory: " + errnoText(errno));
  int synced = fsync(dirFd);
  int syncError = errno;
  close(dirFd);
  if (synced != 0) throw std::runtime_error("Could not sync session directory: " + errnoText(syncError));
}

bool touchSessionFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0 || !isSafeFile(st)) {
    close(fd);
    return false;
  }
  bool touched = futimens(fd, nullptr) == 0;
  close(fd);
  return touched;
}

void deleteSessionFile(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return;
    throw std::runtime_error("Could not inspect session file for deletion: " + errnoText(errno));
  }
  if (!isSafeFile(st))
    throw std::runtime_error("Refusing to delete a session file with unsafe owner, type, links or permissions");
  if (unlink(path.c_str()) != 0 && errno != ENOENT)
    throw std::runtime_error("Could not delete session file: " + errnoText(errno));
}

}  // namespace session_storage
}  // namespace kor
