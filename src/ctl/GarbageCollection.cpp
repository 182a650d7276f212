#include "ctl/GarbageCollection.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>

#include "base/ControlClient.h"
#include "base/Logging.h"
#include "base/Paths.h"
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "ctl/ControlDir.h"
#include "ctl/EndedSessionFiles.h"
#include "terminal/SessionStore.h"
#include "terminal/SessionStoreUnix.h"

namespace kor {

bool parseIdleDuration(const std::string& text, long long& limit) {
  size_t numberEnd = 0;
  bool digits = false;
  while (numberEnd < text.size() && (std::isdigit(static_cast<unsigned char>(text[numberEnd])) || text[numberEnd] == '.')) {
    digits = digits || text[numberEnd] != '.';
    ++numberEnd;
  }
  if (!digits) return false;
  if (numberEnd < text.size() && (text[numberEnd] == 'e' || text[numberEnd] == 'E')) {
    size_t exponent = numberEnd + 1;
    if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) ++exponent;
    size_t exponentDigits = exponent;
    while (exponentDigits < text.size() && std::isdigit(static_cast<unsigned char>(text[exponentDigits]))) ++exponentDigits;
    if (exponentDigits == exponent) return false;
    numberEnd = exponentDigits;
  }
  const std::string number = text.substr(0, numberEnd);
  char* end = nullptr;
  const double value = std::strtod(number.c_str(), &end);
  if (*end != '\0') return false;  // "1.2.3"
  const std::string unitText = text.substr(numberEnd);
  if (unitText.size() > 1 || (unitText.size() == 1 && std::string("dhms").find(unitText[0]) == std::string::npos))
    return false;
  const char unit = unitText.empty() ? 's' : unitText[0];
  const double seconds = std::trunc(value * (unit == 'd' ? 86400 : unit == 'h' ? 3600 : unit == 'm' ? 60 : 1));
  // 2^63: the first value a long long cannot hold, exactly representable as a double.
  constexpr double range = 9223372036854775808.0;
  limit = seconds < range ? static_cast<long long>(seconds) : kNeverIdle;
  return true;
}

namespace {

std::string badDuration(const std::string& text) {
  return "invalid duration '" + text + "' for --idle (a number, then d, h, m or s: 30m, 6h, 2d)";
}

}  // namespace

GcOptions parseGcArguments(const std::vector<std::string>& words) {
  GcOptions options;
  for (const std::string& word : words) {
    if (word == "--help" || word == "-h") {
      options.help = true;
      return options;
    }
  }
  auto refuse = [&options](const std::string& problem) {
    if (options.problem.empty()) options.problem = problem;
  };
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (word == "--idle") {
      options.idle = true;
      if (i + 1 < words.size() && (words[i + 1].empty() || words[i + 1][0] != '-') &&
          !parseIdleDuration(words[++i], options.idleLimit))
        refuse(badDuration(words[i]));
    } else if (word.compare(0, 7, "--idle=") == 0) {
      options.idle = true;
      if (!parseIdleDuration(word.substr(7), options.idleLimit)) refuse(badDuration(word.substr(7)));
    } else if (word == "--force") {
      options.force = true;
    } else if (word == "--dry-run") {
      options.dryRun = true;
    } else if (word.size() > 1 && word[0] == '-') {
      refuse("Option '" + word.substr(word.compare(0, 2, "--") == 0 ? 2 : 1) + "' does not exist");
    } else {
      refuse("unexpected argument '" + word + "' (gc takes no NAME)");
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

Probe probeSocket(const Endpoint& endpoint) {
  if (acceptsConnections(endpoint)) return Probe::kLive;
  return isDeadConnectError(errno) ? Probe::kDead : Probe::kUnknown;
}

void reportStep(const char* format, const std::string& name) {
  char line[512];
  std::snprintf(line, sizeof line, format, name.c_str());
  writeStdout(line);
}

namespace {

void forceStop(const Endpoint& endpoint) {
  uint8_t replyType = 0;
  std::string reply;
  controlExchange(endpoint, kKill, "", replyType, reply, false);
}

// The graceful end: eof, then a forced stop when the daemon still answers after 3 s.
void endGracefully(const Endpoint& endpoint) {
  uint8_t replyType = 0;
  std::string reply;
  controlExchange(endpoint, kInput, std::string(1, '\x04'), replyType, reply, false);
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    if (probeSocket(endpoint) == Probe::kDead) return;
    if (std::chrono::steady_clock::now() - start >= std::chrono::seconds(3)) {
      forceStop(endpoint);
      return;
    }
    usleep(100000);
  }
}

// Pass 1: end live sessions whose last activity is at least idleLimit seconds ago. Returns
// their names.
std::set<std::string> endIdleSessions(const GcOptions& options) {
  std::set<std::string> ended;
  const long long now = static_cast<long long>(std::time(nullptr));
  for (const std::string& name : scanControlDir()) {
    const Endpoint endpoint = controlEndpoint(name);
    if (probeSocket(endpoint) != Probe::kLive) continue;  // pass 2 deals with it
    long long last = statusField(endpoint, "lastActivity");
    if (last <= 0 || now - last < options.idleLimit) continue;
    ended.insert(name);
    if (options.force) {
      reportStep(options.dryRun ? "would stop idle session: %s\n" : "stopping idle session: %s\n", name);
      if (!options.dryRun) forceStop(endpoint);
    } else {
      reportStep(options.dryRun ? "would end idle session: %s\n" : "ending idle session: %s\n", name);
      if (!options.dryRun) endGracefully(endpoint);
    }
  }
  return ended;
}

// Pass 2: remove sockets whose daemon is gone, with their framing files. Returns the names
// whose sockets went (or would go).
std::set<std::string> removeDeadSockets(bool dryRun) {
  std::set<std::string> removed;
  for (const std::string& name : scanControlDir()) {
    if (probeSocket(controlEndpoint(name)) != Probe::kDead) continue;
    const std::string path = controlSocketPath(name);
    if (dryRun) {
      reportStep("would remove dead socket: %s\n", name);
      removed.insert(name);
      continue;
    }
    if (unlink(path.c_str()) == 0) {
      reportStep("removed dead socket: %s\n", name);
      removed.insert(name);
    } else if (errno != ENOENT) {
      std::fprintf(stderr, "korctl gc: could not remove %s: %s\n", path.c_str(), std::strerror(errno));
    }
    unlink(framingFilePath(name).c_str());
  }
  return removed;
}

// Pass 4: control files that strayed into the sessions directory, unless they load as
// genuine saved sessions.
void removeStaleControlFiles(bool dryRun) {
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
    if (!hasSuffixAfterName(file, ".creds") && !hasSuffixAfterName(file, ".framing") &&
        !hasSuffixAfterName(file, ".gone"))
      continue;
    if (loadSession(file)) continue;
    if (dryRun)
      reportStep("would remove stale control file: %s\n", file);
    else if (unlink(it->path().c_str()) == 0)
      reportStep("removed stale control file: %s\n", file);
  }
}

}  // namespace

void collectGarbage(const GcOptions& options) {
  // What this run ends keeps its ended reason until a later run finds it old enough.
  const std::set<std::string> endedNow = options.idle ? endIdleSessions(options) : std::set<std::string>();
  const std::set<std::string> removedSockets = removeDeadSockets(options.dryRun);
  removeEndedSessionFiles(options, removedSockets, endedNow);
  removeStaleControlFiles(options.dryRun);
}

}  // namespace kor
