#include "ctl/EndedSessionFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <vector>

#include "base/Paths.h"

namespace kor {

namespace {

// In the order of removal: the locks go last, once the files they guard are gone (kor's start
// lock, run's lock).
const char* const kSuffixes[] = {".gone", ".framing", ".runlock", ".lock"};
const char* const kLocks[] = {".lock", ".runlock"};

bool ownPlainFile(const std::string& path, struct stat& st) {
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

// NAME -> the suffixes of its files found in the control directory.
std::map<std::string, std::set<std::string>> sessionFiles(const std::string& dir) {
  std::map<std::string, std::set<std::string>> files;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string file = it->path().filename().string();
    for (const char* suffix : kSuffixes) {  // x.runlock is x's run lock, not the start lock of x.run
      const size_t n = std::strlen(suffix);
      if (hasSuffixAfterName(file, suffix)) {
        files[file.substr(0, file.size() - n)].insert(suffix);
        break;
      }
    }
  }
  return files;
}

// A session's lock, held while its files are looked at and removed.
struct HeldLock {
  int fd = -1;
  ~HeldLock() {
    if (fd >= 0) close(fd);
  }
};

// Takes a lock as its owners do, but without waiting. True when it is held, or when there is
// no lock file; false when a start (or a run) holds it, or the file is not a plain one of
// ours, or the name came to mean another file meanwhile.
bool takeLock(const std::string& path, HeldLock& lock) {
  lock.fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (lock.fd < 0) return errno == ENOENT;
  struct stat held, named;
  if (fstat(lock.fd, &held) != 0 || !S_ISREG(held.st_mode) || held.st_uid != geteuid()) return false;
  if (flock(lock.fd, LOCK_EX | LOCK_NB) != 0) return false;
  return lstat(path.c_str(), &named) == 0 && named.st_ino == held.st_ino && named.st_dev == held.st_dev;
}

std::string readSmallFile(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "";
  char buffer[64];
  ssize_t got = read(fd, buffer, sizeof buffer);
  close(fd);
  return got > 0 ? std::string(buffer, static_cast<size_t>(got)) : "";
}

// When the session ended: the time its ended-reason file records, else its newest file's.
long long endedAt(const std::string& name, const std::set<std::string>& suffixes) {
  const std::string base = controlDir() + "/" + name;
  long long newest = 0;
  for (const std::string& suffix : suffixes) {
    struct stat st;
    if (ownPlainFile(base + suffix, st) && st.st_mtime > newest) newest = st.st_mtime;
  }
  long long recorded = 0;
  if (suffixes.count(".gone") && parseGoneTime(readSmallFile(base + ".gone"), recorded)) return recorded;
  return newest;
}

void removeFile(const std::string& dir, const std::string& file, bool dryRun) {
  const std::string path = dir + "/" + file;
  struct stat st;
  if (!ownPlainFile(path, st)) return;
  if (dryRun) {
    reportStep("would remove ended session file: %s\n", file);
  } else if (unlink(path.c_str()) == 0) {
    reportStep("removed ended session file: %s\n", file);
  } else if (errno != ENOENT) {
    std::fprintf(stderr, "korctl gc: could not remove %s: %s\n", path.c_str(), std::strerror(errno));
  }
}

}  // namespace

bool parseGoneTime(const std::string& content, long long& endedAt) {
  const char* start = content.c_str();
  while (*start == ' ' || *start == '\t' || *start == '\n') ++start;
  if (*start < '0' || *start > '9') return false;
  char* end = nullptr;
  errno = 0;
  long long value = std::strtoll(start, &end, 10);
  if (errno != 0) return false;
  endedAt = value;
  return true;
}

void removeEndedSessionFiles(const GcOptions& options, const std::set<std::string>& removedSockets,
                             const std::set<std::string>& endedNow) {
  const std::string dir = controlDir();
  const long long now = static_cast<long long>(std::time(nullptr));
  for (const auto& [name, suffixes] : sessionFiles(dir)) {
    if ((!suffixes.count(".gone") && !suffixes.count(".lock")) || endedNow.count(name)) continue;
    const bool socketRemoved = removedSockets.count(name) > 0;
    struct stat st;
    if (!socketRemoved && lstat(controlSocketPath(name).c_str(), &st) == 0) continue;  // it lives
    HeldLock locks[sizeof kLocks / sizeof kLocks[0]];
    bool held = true;
    for (size_t i = 0; held && i < sizeof kLocks / sizeof kLocks[0]; ++i) held = takeLock(dir + "/" + name + kLocks[i], locks[i]);
    if (!held) continue;
    // Under the lock no session of this name can start; one that has a socket still stands.
    const bool socketGone = lstat(controlSocketPath(name).c_str(), &st) != 0 && errno == ENOENT;
    if (!socketGone && !(options.dryRun && socketRemoved)) continue;
    if (now - endedAt(name, suffixes) < options.idleLimit) continue;
    for (const char* suffix : kSuffixes)
      if (suffixes.count(suffix)) removeFile(dir, name + suffix, options.dryRun);
  }
}

}  // namespace kor
