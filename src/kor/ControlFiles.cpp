#include "kor/ControlFiles.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include "base/FdIo.h"
#include "base/Paths.h"
#include "base/PrivateFile.h"
#include "base/SocketAddress.h"

namespace kor {

std::string socketPathTooLong(const std::string& path) {
  return "control socket path too long (" + std::to_string(path.size()) + " bytes, at most " +
         std::to_string(kMaxSocketPathLength) + "): " + path;
}

void listenOn(ControlFiles& files) {
  const std::string& path = files.socketPath;
  struct sockaddr_un address;
  if (!makeSocketAddress(path, address)) throw std::runtime_error(socketPathTooLong(path));
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  mode_t old = umask(077);
  int bound = bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address);
  int error = errno;
  umask(old);
  if (bound != 0) {
    close(fd);
    throw std::runtime_error("cannot bind " + path + ": " + std::strerror(error));
  }
  chmod(path.c_str(), 0600);
  if (listen(fd, 128) != 0) {
    error = errno;
    close(fd);
    unlink(path.c_str());
    throw std::runtime_error("cannot listen on " + path + ": " + std::strerror(error));
  }
  setNonBlockingAndCloseOnExec(fd);
  files.listenFd = fd;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    files.socketInode = st.st_ino;
    files.socketDevice = st.st_dev;
  }
}

void removeSocketName(ControlFiles& files) {
  if (files.listenFd < 0 || files.socketInode == 0) return;
  struct stat st;
  if (lstat(files.socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == files.socketInode &&
      st.st_dev == files.socketDevice)
    unlink(files.socketPath.c_str());
  files.socketInode = 0;
}

void stopListening(ControlFiles& files) {
  if (files.listenFd < 0) return;
  removeSocketName(files);
  close(files.listenFd);
  files.listenFd = -1;
}

void writeGone(const ControlFiles& files, const std::string& reason) {
  if (!files.hasGoneFile) return;
  std::string path;
  try {
    path = goneFilePath(files.name);
  } catch (const std::exception&) {
    return;  // no home directory: nowhere to leave it
  }
  const std::string line = std::to_string(static_cast<long long>(std::time(nullptr))) + ' ' + reason + '\n';
  const std::string error = replaceFileAtomically(path, path + ".tmp", line);
  // The daemon has no terminal left to tell; the system log is where a full disk shows.
  if (!error.empty()) syslog(LOG_USER | LOG_ERR, "kor: session '%s' ended (%s), but %s", files.name.c_str(),
                             reason.c_str(), error.c_str());
}

}  // namespace kor
