#pragma once
// The files a session daemon owns in the control directory: its listening socket and the
// ended-reason file it leaves when the session ends.
#include <sys/types.h>

#include <string>

namespace kor {

struct ControlFiles {
  std::string name;          // the session's name
  std::string socketPath;    // absolute
  bool hasGoneFile = false;  // only names that keep the session name rule get one
  int listenFd = -1;
  ino_t socketInode = 0;     // the socket file this daemon made
  dev_t socketDevice = 0;
};

// The error text for a socket path that no socket address can hold.
std::string socketPathTooLong(const std::string& path);

// Binds and listens on files.socketPath (mode 0600) and remembers which file it made; the
// socket accepts connections from here on. Raises with the reason on failure.
void listenOn(ControlFiles& files);
// Removes the socket's name, if it is still the file this daemon made: from then on nobody
// new can connect, while connections already waiting can still be accepted.
void removeSocketName(ControlFiles& files);
// Closes the socket and removes its name first, so once connections are refused the file is
// gone as well; only the file this daemon made goes, as a newer session may have the path.
void stopListening(ControlFiles& files);
// Writes the ended-reason file: the time and the reason, on one line.
void writeGone(const ControlFiles& files, const std::string& reason);

}  // namespace kor
