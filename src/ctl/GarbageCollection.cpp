#include "ctl/GarbageCollection.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "base/ControlClient.h"
#include "base/Logging.h"
#include "base/Paths.h"
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "ctl/ControlDir.h"
#include "terminal/SessionStore.h"
#include "terminal/SessionStoreUnix.h"

namespace kor {

void applyIdleDuration(const std::string& text, long long& limit) {
  const char* start = text.c_str();
  char* end = nullptr;
  double value = std::strtod(start, &end);
  if (end == start || std::isnan(value)) return;
  double unit = *end == 'd' ? 86400 : *end == 'h' ? 3600 : *end == 'm' ? 60 : 1;
  double seconds = std::trunc(value * unit);
  // 2^63: the first value a long long cannot hold, exactly representable as a double.
  constexpr double range = 9223372036854775808.0;
  if (!(seconds < range && seconds > -range)) {
    limit = kNeverIdle;
    return;
  }
  limit = static_cast<long long>(seconds);
}

GcOptions parseGcArguments(const std::vector<std::string>& words) {
  GcOptions options;
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--help" || word == "-h") {
      options.help = true;
      return options;
    }
    if (word == "--idle") {
      options.idle = true;
      if (i + 1 < words.size() && (words[i + 1].empty() || words[i + 1][0] != '-'))
        applyIdleDuration(words[++i], options.idleLimit);
    } else if (word.compare(0, 7, "--idle=") == 0) {
      options.idle = true;
      applyIdleDuration(word.substr(7), options.idleLimit);
    } else if (word == "--force") {
      options.force = true;
    }
  }
  return options;
}

bool isDeadConnectError(int error) {
  // A file that is not a socket at all (FreeBSD says ENOTSOCK, Linux ECONNREFUSED) can never be
  // a daemon's socket either. Anything else (a full backlog, no permission, a path too long to
  // connect) says nothing about the daemon, so its socket stays.
  return error == ECONNREFUSED || error == ENOENT || error == ENOTSOCK;
}

namespace {

enum class Probe { kLive, kDead, kUnknown };

Probe probe(const Endpoint& endpoint) {
  if (acceptsConnections(endpoint)) return Probe::kLive;
  return isDeadConnectError(errno) ? Probe::kDead : Probe::kUnknown;
}

void progress(const char* format, const std::string& name) {
  char line[512];
  std::snprintf(line, sizeof line, format, name.c_str());
  writeStdout(line);
}

void forceStop(const Endpoint& endpoint) {
  uint8_t replyType = 0;
  std::string reply;
  controlExchange(endpoint, kKill, "", replyType, reply, false);
}

// Pass 1: end live sessions whose last activity is at least idleLimit seconds ago.
void endIdleSessions(const GcOptions& options) {
  const long long now = static_cast<long long>(std::time(nullptr));
  for (const std::string& name : scanControlDir()) {
    const Endpoint endpoint = controlEndpoint(name);
    if (probe(endpoint) != Probe::kLive) continue;  // pass 2 deals with it
    long long last = statusField(endpoint, "lastActivity");
    if (last <= 0 || now - last < options.idleLimit) continue;
    if (options.force) {
      progress("stopping idle session: %s\n", name);
      forceStop(endpoint);
      continue;
    }
    progress("ending idle session: %s\n", name);
    uint8_t replyType = 0;
    std::string reply;
    controlExchange(endpoint, kInput, std::string(1, '\x04'), replyType, reply, false);
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
      if (probe(endpoint) == Probe::kDead) break;
      if (std::chrono::steady_clock::now() - start >= std::chrono::seconds(3)) {
        forceStop(endpoint);
        break;
      }
      usleep(100000);
    }
  }
}

// Pass 2: remove sockets whose daemon is gone, with their framing files.
void removeDeadSockets() {
  for (const std::string& name : scanControlDir()) {
    if (probe(controlEndpoint(name)) != Probe::kDead) continue;
    const std::string path = controlSocketPath(name);
    if (unlink(path.c_str()) == 0)
      progress("removed dead socket: %s\n", name);
    else if (errno != ENOENT)
      std::fprintf(stderr, "korctl gc: could not remove %s: %s\n", path.c_str(), std::strerror(errno));
    unlink(framingFilePath(name).c_str());
  }
}

bool endsWith(const std::string& text, const char* suffix) {
  size_t n = std::strlen(suffix);
  return text.size() > n && text.compare(text.size() - n, n, suffix) == 0;
}

// Pass 3: control files that strayed into the sessions directory, unless they load as
// genuine saved sessions.
void removeStaleControlFiles() {
  std::string dir;
  try {
    dir = sessionsDir();
  } catch (const std::runtime_error&) {
    return;
  }
  try {
    // In a directory that fails its safety check nothing loads, so every file would look stale.
    session_storage::checkSessionDirectories(dir, true);
  } catch (const std::runtime_error& error) {
    LOG(WARNING) << "Not removing stale control files from " << dir << ": " << error.what();
    return;
  }
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code typeError;
    const std::filesystem::file_status status = std::filesystem::status(it->path(), typeError);
    // An entry whose type cannot be told ends the pass; a dangling link is simply no file.
    if (typeError && status.type() != std::filesystem::file_type::not_found) break;
    if (status.type() != std::filesystem::file_type::regular) continue;
    const std::string file = it->path().filename().string();
    if (!endsWith(file, ".creds") && !endsWith(file, ".framing") && !endsWith(file, ".gone")) continue;
    if (loadSession(file)) continue;
    if (unlink(it->path().c_str()) == 0) progress("removed stale control file: %s\n", file);
  }
}

}  // namespace

void collectGarbage(const GcOptions& options) {
  if (options.idle) endIdleSessions(options);
  removeDeadSockets();
  removeStaleControlFiles();
}

}  // namespace kor
