#include "terminal/SessionStore.h"

#include <sodium.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "base/Logging.h"
#include "base/Paths.h"
#include "terminal/SessionStoreUnix.h"

namespace kor {
namespace {

std::string sessionPath(const std::string& name) { return sessionsDir() + "/" + name; }

bool isPrintableField(const std::string& value) { return value.find_first_of("\r\n") == std::string::npos; }

std::string temporaryName(const std::string& name) {
  static const char alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
  if (sodium_init() < 0) throw std::runtime_error("Could not initialise the random number generator");
  std::string suffix(8, '0');
  for (char& c : suffix) c = alphabet[randombytes_uniform(62)];
  return "." + name + "." + suffix;
}

}  // namespace

std::string formatSessionText(const SessionInfo& info) {
  return "version=1\nname=" + info.name + "\nhost=" + info.host + "\nport=" + std::to_string(info.port) +
         "\nid=" + info.id + "\npasskey=" + info.passkey + "\nsavedat=" + std::to_string(info.savedat) +
         "\ntitle=" + info.title + "\n";
}

std::optional<SessionInfo> parseSessionText(const std::string& text, const std::string& name) {
  SessionInfo info;
  bool versionOk = false, portSeen = false, savedSeen = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) return std::nullopt;
    const std::string key = line.substr(0, eq);
    const std::string value = line.substr(eq + 1);
    if (key == "version") {
      versionOk = value == "1";
    } else if (key == "name") {
      info.name = value;
    } else if (key == "host") {
      info.host = value;
    } else if (key == "id") {
      info.id = value;
    } else if (key == "passkey") {
      info.passkey = value;
    } else if (key == "title") {
      info.title = value;
    } else if (key == "port") {
      info.port = std::stoi(value, nullptr, 10);
      portSeen = true;
    } else if (key == "savedat") {
      info.savedat = std::stoll(value, nullptr, 10);
      savedSeen = true;
    }
  }
  if (!versionOk || !portSeen || !savedSeen) return std::nullopt;
  if (info.name != name || info.host.empty() || info.id.empty() || info.passkey.empty()) return std::nullopt;
  if (info.port < 1 || info.port > 65535) return std::nullopt;
  return info;
}

std::optional<SessionInfo> loadSession(const std::string& name) {
  if (!isValidSessionName(name)) return std::nullopt;
  try {
    const std::string path = sessionPath(name);
    session_storage::checkSessionDirectories(sessionsDir(), true);
    int64_t modified = 0;
    std::optional<std::string> text = session_storage::readSessionFile(path, name, &modified);
    if (!text) return std::nullopt;
    std::optional<SessionInfo> info = parseSessionText(*text, name);
    if (info) info->lastUsed = modified;
    return info;
  } catch (const std::exception& error) {
    LOG(WARNING) << "Could not load session '" << name << "': " << error.what();
    return std::nullopt;
  }
}

std::vector<SessionInfo> listSessions() {
  std::string dir;
  try {
    dir = sessionsDir();
    session_storage::checkSessionDirectories(dir, true);
  } catch (const std::exception& error) {
    LOG(WARNING) << "Could not list sessions: " << error.what();
    return {};
  }
  struct stat st;
  if (stat(dir.c_str(), &st) != 0) {
    // No sessions directory yet (a new user): no saved sessions, nothing to warn about.
    if (errno != ENOENT) LOG(WARNING) << "Could not list sessions: " << std::strerror(errno);
    return {};
  }
  if (!S_ISDIR(st.st_mode)) return {};

  std::vector<SessionInfo> sessions;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    // The writer's temporary files begin with a dot, so they never pass the name rule.
    if (!isValidSessionName(file)) continue;
    if (std::optional<SessionInfo> info = loadSession(file))
      sessions.push_back(std::move(*info));
    else
      LOG(WARNING) << "Skipping unreadable or corrupt session file: " << file;
  }
  std::sort(sessions.begin(), sessions.end(),
            [](const SessionInfo& a, const SessionInfo& b) { return a.name < b.name; });
  return sessions;
}

void saveSession(const SessionInfo& info, bool replace) {
  if (!isValidSessionName(info.name)) throw std::runtime_error("Invalid session name: " + info.name);
  bool valid = !info.host.empty() && isPrintableField(info.host) && !info.id.empty() &&
               isPrintableField(info.id) && !info.passkey.empty() && isPrintableField(info.passkey) &&
               info.port >= 1 && info.port <= 65535 && isPrintableField(info.title);
  if (!valid) throw std::runtime_error("Session fields must be non-empty and printable");
  const std::string dir = sessionsDir();
  session_storage::ensureSessionDirectory(std::filesystem::path(dir).parent_path().string());
  session_storage::ensureSessionDirectory(dir);
  session_storage::writeSessionFileAtomically(dir + "/" + temporaryName(info.name), dir + "/" + info.name,
                                              formatSessionText(info), replace);
}

bool touchSession(const std::string& name) {
  if (!isValidSessionName(name)) return false;
  const std::string dir = sessionsDir();  // no home directory raises
  try {
    session_storage::checkSessionDirectories(dir, true);
  } catch (const std::runtime_error&) {
    return false;
  }
  return session_storage::touchSessionFile(dir + "/" + name);
}

void deleteSession(const std::string& name) {
  if (!isValidSessionName(name)) return;
  session_storage::checkSessionDirectories(sessionsDir(), true);
  session_storage::deleteSessionFile(sessionPath(name));
}

}  // namespace kor
