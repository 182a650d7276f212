#include "ctl/ShellDetect.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "base/Paths.h"
#include "base/StatusRecord.h"
#include "ctl/Input.h"
#include "ctl/MarkerFrame.h"
#include "ctl/OscFrame.h"
#include "ctl/OutputRead.h"

namespace kor {

namespace {

using Clock = std::chrono::steady_clock;
const std::string kSetupEcho = "KORCTL_EC=";
constexpr size_t kFramingReadLimit = 4096;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whether word is followed by a digit somewhere in text.
bool wordThenDigit(const std::string& text, const std::string& word) {
  for (size_t p = text.find(word); p != std::string::npos; p = text.find(word, p + 1)) {
    size_t q = p + word.size();
    if (q < text.size() && isDigit(text[q])) return true;
  }
  return false;
}

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

bool parseFramingContent(const std::string& content, ShellTraits& traits) {
  std::istringstream in(content);
  int paste, osc, status;
  if (!(in >> paste >> osc >> status)) return false;
  if (paste < 0 || osc < 0) return false;
  traits.pasteCapable = paste != 0;
  traits.oscMarks = osc != 0;
  traits.statusVar = status != 0;
  return true;
}

std::string framingContent(const ShellTraits& traits) {
  std::string text;
  text += traits.pasteCapable ? '1' : '0';
  text += ' ';
  text += traits.oscMarks ? '1' : '0';
  text += ' ';
  text += traits.statusVar ? '1' : '0';
  text += '\n';
  return text;
}

bool showsPasteSwitch(const std::string& text) { return text.find("\x1b[?2004") != std::string::npos; }

bool SetupEchoSearch::search(const std::string& text) {
  if (found) return true;
  size_t p = resume;
  while ((p = text.find(kSetupEcho, p)) != std::string::npos) {
    size_t q = p + kSetupEcho.size();
    while (q < text.size() && isDigit(text[q])) ++q;
    if (q >= text.size()) {
      resume = p;  // digits up to the end: the line end may still come
      return false;
    }
    if (text[q] == '\r' || text[q] == '\n') return found = true;
    p = q;
  }
  size_t tail = text.size() >= kSetupEcho.size() ? text.size() - kSetupEcho.size() + 1 : 0;
  if (tail > resume) resume = tail;
  return false;
}

bool hasSetupEcho(const std::string& text) {
  SetupEchoSearch search;
  return search.search(text);
}

// What the shell's reaction shows: $status expanded to digits after statusWord, paste-mode
// switches, an OSC 133 D mark.
static ShellTraits judgeReaction(const std::string& text, const std::string& statusWord) {
  ShellTraits traits;
  OscMark mark;
  traits.statusVar = wordThenDigit(text, statusWord);
  traits.pasteCapable = showsPasteSwitch(text);
  traits.oscMarks = findOscMark(text, 0, 'D', mark);
  return traits;
}

ShellTraits judgeSetupEcho(const std::string& text) { return judgeReaction(text, kSetupEcho); }

ShellTraits judgeProbe(const std::string& text, const std::string& probeName) {
  return judgeReaction(text, probeName + "=");
}

size_t WordCounter::count(const std::string& text) {
  size_t p = resume;
  while ((p = text.find(word, p)) != std::string::npos) {
    ++seen;
    p += word.size();
    resume = p;
  }
  size_t tail = text.size() >= word.size() ? text.size() - word.size() + 1 : 0;
  if (tail > resume) resume = tail;
  return seen;
}

void ensurePrivateDir(const std::string& path) {
  if (path.empty()) return;
  namespace fs = std::filesystem;
  std::error_code error;
  fs::create_directories(path, error);
  std::error_code ignored;
  if (error && !fs::is_directory(path, ignored))
    throw std::runtime_error("could not create " + path + ": " + error.message());
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::replace, ignored);
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
  if (ftruncate(fd, 0) == 0 && fchmod(fd, 0600) == 0) {
    size_t done = 0;
    while (done < content.size()) {
      ssize_t n = ::write(fd, content.data() + done, content.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }
  ::close(fd);
}

bool scanSetupEcho(const std::string& name, ShellTraits& traits) {
  long long cursor = 0;
  std::string text;
  SetupEchoSearch search;
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  Clock::time_point foundAt;
  while (Clock::now() < deadline) {
    OutputChunk chunk;
    if (!fetchOutput(name, cursor, chunk, false)) break;
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

ShellTraits probeShell(const std::string& name, bool& answered) {
  answered = false;
  sendInput(name, "set +o histexpand 2>/dev/null\n", false);
  const std::string probeName = "KORCTL_OSCPROBE_" + makeRunToken();
  const std::string probeLine = "echo \"" + probeName + "=$status\"\n";
  const long long head = headCursorOf(name);
  std::string text;
  if (sendInput(name, probeLine, false) == 0) {
    long long cursor = head > 0 ? head : 0;
    const auto deadline = Clock::now() + std::chrono::seconds(3);
    Clock::time_point settleAt;
    bool dSeen = false, echoed = false;
    size_t dResume = 0;
    WordCounter names(probeName);
    while (Clock::now() < deadline) {
      OutputChunk chunk;
      if (!fetchOutput(name, cursor, chunk, false)) break;
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

ShellTraits detectShellTraits(const std::string& name) {
  ShellTraits traits;
  if (readFramingCache(name, traits)) return traits;
  bool answered = scanSetupEcho(name, traits);
  if (!answered) traits = probeShell(name, answered);
  // A detection that never heard the shell (it was not answering yet, or a read failed)
  // would poison every later run on this session, so only an answer is remembered.
  if (answered) writeFramingCache(name, traits);
  return traits;
}

}  // namespace kor
