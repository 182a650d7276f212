#include "base/Paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace kor {

bool hasSuffixAfterName(const std::string& file, const std::string& suffix) {
  return file.size() > suffix.size() && file.compare(file.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::string homeDir() {
  const char* home = std::getenv("HOME");
  if (home && *home) return home;
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  if (size < 1) size = 16384;
  std::vector<char> buffer(static_cast<size_t>(size));
  struct passwd entry;
  struct passwd* found = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
      found->pw_dir && *found->pw_dir) {
    return found->pw_dir;
  }
  throw std::runtime_error("Could not determine user home directory");
}

std::string sessionsDir() { return homeDir() + "/.kor/sessions"; }

std::string controlDir() {
  return std::filesystem::path(sessionsDir()).parent_path().string() + "/control";
}

std::string controlSocketPath(const std::string& name) { return controlDir() + "/" + name + ".sock"; }

std::string framingFilePath(const std::string& name) { return controlDir() + "/" + name + ".framing"; }

bool isValidSessionName(const std::string& name) {
  static const std::regex rule("^[A-Za-z0-9][A-Za-z0-9._-]{0,62}$");
  return std::regex_match(name, rule);
}

std::string newSessionNameProblem(const std::string& name) {
  for (unsigned char c : name)
    if (c < 0x20 || c == 0x7f) return "invalid session name (it contains control characters)";
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    return "invalid session name '" + name + "'";
  if (name[0] == '-') return "invalid session name '" + name + "' (it begins with '-')";
  return "";
}

std::string goneFilePath(const std::string& name) {
  if (!isValidSessionName(name)) throw std::runtime_error("invalid session name '" + name + "'");
  return controlDir() + "/" + name + ".gone";
}

std::string resolveSocketPath(const std::string& name) {
  struct stat st;
  if (stat(name.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return name;
  return controlSocketPath(name);
}

std::string parseGoneReason(const std::string& content, long long now) {
  std::istringstream in(content);
  long long endedAt = 0;
  if (!(in >> endedAt)) return "";
  std::string reason;
  std::getline(in, reason);
  size_t first = reason.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  reason.erase(0, first);
  long long age;
  if (__builtin_sub_overflow(now, endedAt, &age)) age = endedAt < 0 ? LLONG_MAX : -1;  // absurd end times
  if (age < 0) return reason;
  return reason + " (" + std::to_string(age) + "s ago)";
}

std::string readGoneReason(const std::string& name) {
  try {
    std::ifstream file(goneFilePath(name));
    if (!file) return "";
    std::ostringstream content;
    content << file.rdbuf();
    return parseGoneReason(content.str(), static_cast<long long>(std::time(nullptr)));
  } catch (...) {
    return "";
  }
}

}  // namespace kor
