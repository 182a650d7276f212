#pragma once
// One `run` at a time per session: a private lock file beside the session's socket
// (~/.kor/control/NAME.runlock), held with flock for the whole run, so a second run waits
// instead of typing its frame into the middle of the first one's. Input commands (write,
// writeln, key) take no lock: they answer the prompts of a running command.
#include <chrono>
#include <string>

#include "base/ControlClient.h"

namespace kor {

// NAME.runlock beside the socket: the socket path with ".sock" replaced (or appended to).
std::string runLockPath(const Endpoint& session);

// The lock, released when the descriptor closes (also when the process ends).
struct RunLock {
  RunLock() = default;
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;
  ~RunLock();
  int fd = -1;
};

enum class LockResult { kTaken, kTimedOut, kCancelled, kFailed };

// Waits for the lock until deadline, or until the work is cancelled (base/Cancellation.h).
// kFailed when the file cannot be opened or is not a regular file of ours with one link
// (opened without following a symbolic link): error says why. A file removed while we waited
// for it is left for the one under the name.
LockResult takeRunLock(const Endpoint& session, std::chrono::steady_clock::time_point deadline, RunLock& lock,
                       std::string& error);

}  // namespace kor
