#include "ctl/ShellDetect.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "base/FdIo.h"
#include "base/Paths.h"
#include "base/PrivateDir.h"
#include "base/StatusRecord.h"
#include "ctl/Input.h"
#include "ctl/OutputRead.h"
#include "text/MarkerFrame.h"
#include "text/OscFrame.h"

namespace kor {

namespace {

using Clock = std::chrono::steady_clock;
constexpr size_t kFramingReadLimit = 4096;

// Opens the framing file without following a symbolic link (and without blocking on a FIFO);
// only a regular file with exactly one link is accepted. -1 otherwise.
int openFramingFile(const std::string& path, bool forWriting) {
  int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (forWriting ? (O_WRONLY | O_CREAT) : O_RDONLY);
  int fd = ::open(path.c_str(), flags, 0600);
  if (fd < 0) return -1;
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_nlink != 1) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace

void ensurePrivateDir(const std::string& path) {
  if (path.empty()) return;
  // Every directory created on the way is private too (a fresh ~/.kor as much as its control
  // directory): the session store refuses a ~/.kor that others can read.
  std::error_code ignored;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ignored)) ensurePrivateDir(parent.string());
  const int error = makePrivateDir(path);
  if (error && !std::filesystem::is_directory(path, ignored))
    throw std::runtime_error("could not create " + path + ": " + std::strerror(error));
  chmod(path.c_str(), 0700);  // exactly 0700, also when it was there already
}

bool readFramingCache(const std::string& name, ShellTraits& traits) {
  int fd = openFramingFile(framingFilePath(name), false);
  if (fd < 0) return false;
  std::string content;
  char buffer[512];
  ssize_t n;
  while (content.size() < kFramingReadLimit && (n = ::read(fd, buffer, sizeof buffer)) > 0)
    content.append(buffer, static_cast<size_t>(n));
  ::close(fd);
  return parseFramingContent(content, traits);
}

void writeFramingCache(const std::string& name, const ShellTraits& traits) {
  ensurePrivateDir(controlDir());
  int fd = openFramingFile(framingFilePath(name), true);
  if (fd < 0) return;
  const std::string content = framingContent(traits);
  if (ftruncate(fd, 0) == 0 && fchmod(fd, 0600) == 0) writeFully(fd, content.data(), content.size());
  ::close(fd);
}

bool scanSetupEcho(const Endpoint& session, ShellTraits& traits) {
  long long cursor = 0;
  std::string text;
  SetupEchoSearch search;
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  Clock::time_point foundAt;
  while (Clock::now() < deadline) {
    OutputChunk chunk;
    if (!fetchOutput(session, cursor, chunk, false)) break;
    text += chunk.data;
    const auto t = Clock::now();
    const bool noNewOutput = chunk.nextCursor == cursor;
    if (!search.found) {
      if (!search.search(text)) {
        if (text.size() > 65536) break;
        if (noNewOutput) usleep(40000);
        cursor = chunk.nextCursor;
        continue;
      }
      foundAt = t;
    }
    if (noNewOutput || t >= foundAt + std::chrono::milliseconds(300)) break;
    cursor = chunk.nextCursor;
  }
  if (!search.found) return false;
  traits = judgeSetupEcho(text);
  return true;
}

ShellTraits probeShell(const Endpoint& session, bool& answered) {
  answered = false;
  sendInput(session, " set +o histexpand 2>/dev/null\n", false);
  const std::string probeName = "KORCTL_OSCPROBE_" + makeRunToken();
  const std::string probeLine = " echo \"" + probeName + "=$status\"\n";
  const long long head = headCursorOf(session);
  std::string text;
  if (sendInput(session, probeLine, false) == 0) {
    long long cursor = head > 0 ? head : 0;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    Clock::time_point settleAt;
    bool dSeen = false, echoed = false;
    size_t dResume = 0;
    WordCounter names(probeName);
    while (Clock::now() < deadline) {
      OutputChunk chunk;
      if (!fetchOutput(session, cursor, chunk, false)) break;
      text += chunk.data;
      const auto t = Clock::now();
      OscMark mark;
      bool checkSettle = true;
      if (!dSeen && findOscMark(text, dResume, 'D', mark, dResume)) {
        dSeen = true;
        settleAt = t + std::chrono::milliseconds(400);
      } else if (!dSeen && !echoed) {
        if (names.count(text) >= 2) {
          echoed = true;
          settleAt = t + std::chrono::milliseconds(600);
        } else {
          checkSettle = false;
        }
      }
      if (checkSettle && (dSeen || echoed) && t >= settleAt) break;
      if (chunk.nextCursor == cursor) usleep(40000);
      cursor = chunk.nextCursor;
    }
    answered = dSeen || echoed;
  }
  return judgeProbe(text, probeName);
}

ShellTraits detectShellTraits(const Endpoint& session) {
  ShellTraits traits;
  if (readFramingCache(session.name, traits)) return traits;
  bool answered = scanSetupEcho(session, traits);
  if (!answered) traits = probeShell(session, answered);
  // A detection that never heard the shell (it was not answering yet, or a read failed)
  // would poison every later run on this session, so only an answer is remembered.
  if (answered) writeFramingCache(session.name, traits);
  return traits;
}

}  // namespace kor
