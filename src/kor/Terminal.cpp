#include "kor/Terminal.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>

#include "base/Paths.h"
#include "kor/Login.h"
#include "kor/Pty.h"

namespace kor {

namespace {

constexpr auto kDrainTime = std::chrono::seconds(1);
constexpr auto kHangupGrace = std::chrono::milliseconds(500);
constexpr auto kSetupLineTime = std::chrono::seconds(5);
constexpr size_t kReadBlock = 64 * 1024;
// Reads of terminal output per pass, so a flood of output never starves the clients.
constexpr int kReadsPerPass = 64;

long long now() { return static_cast<long long>(std::time(nullptr)); }

void dropInput(Terminal& terminal) {
  for (InputChunk& dropped : terminal.input)
    if (dropped.hidden) wipe(dropped.bytes);
  terminal.input.clear();
  terminal.inputBytes = 0;
}

}  // namespace

void startShell(Session& session, const Program& program) {
  std::string home;
  try {
    home = homeDir();
  } catch (...) {
  }
  Terminal& terminal = session.terminal;
  PtyChild child = spawnInPty(program.argv, program.argv0, terminal.size.rows, terminal.size.cols,
                              {{"TERM", "xterm-256color"}}, home);
  terminal.master = child.master;
  terminal.masterOpen = true;
  terminal.shellPid = child.pid;
  terminal.shellAlive = true;
  session.created = now();
  session.lastActivity = session.created;
}

void typeSetupLine(Session& session) {
  Terminal& terminal = session.terminal;
  if (session.options.command.empty()) return;
  queueInput(terminal, session.options.command + "\n", false);
  auto deadline = Clock::now() + kSetupLineTime;
  while (!terminal.input.empty() && terminal.masterOpen && Clock::now() < deadline) {
    writeTerminal(session);
    if (terminal.input.empty()) break;
    struct pollfd pfd = {terminal.master, POLLIN | POLLOUT, 0};
    poll(&pfd, 1, 50);
    if (pfd.revents & POLLIN) readTerminal(session);
  }
}

void readTerminal(Session& session) {
  Terminal& terminal = session.terminal;
  for (int i = 0; i < kReadsPerPass && terminal.masterOpen; ++i) {
    // Straight into the output window; the exchange record takes its copy from there.
    AppendRoom room = outputRoom(session.output, kReadBlock);
    struct iovec parts[2];
    for (int p = 0; p < room.count; ++p) parts[p] = {room.data[p], room.length[p]};
    ssize_t got = room.count == 1 ? read(terminal.master, room.data[0], room.length[0])
                                  : readv(terminal.master, parts, room.count);
    if (got > 0) {
      const size_t first = std::min(static_cast<size_t>(got), room.length[0]);
      appendExchange(session.exchange, kReceivedMark, room.data[0], first, room.data[1],
                     static_cast<size_t>(got) - first);
      noteLoginOutput(session, room.data[0], first);
      if (static_cast<size_t>(got) > first) noteLoginOutput(session, room.data[1], static_cast<size_t>(got) - first);
      feedScreen(session.screen, room.data[0], first);
      if (static_cast<size_t>(got) > first) feedScreen(session.screen, room.data[1], static_cast<size_t>(got) - first);
      commitOutput(session.output, static_cast<size_t>(got));
      session.lastActivity = now();
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    terminal.masterOpen = false;  // EOF or EIO: nothing holds the terminal any more
  }
}

void queueInput(Terminal& terminal, std::string bytes, bool hidden) {
  if (bytes.empty()) return;
  terminal.inputBytes += bytes.size();
  terminal.input.push_back(InputChunk{std::move(bytes), 0, hidden});
}

void writeTerminal(Session& session) {
  Terminal& terminal = session.terminal;
  while (!terminal.input.empty() && terminal.masterOpen) {
    InputChunk& chunk = terminal.input.front();
    ssize_t put = write(terminal.master, chunk.bytes.data() + chunk.written, chunk.bytes.size() - chunk.written);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      return dropInput(terminal);  // the terminal refuses input: the session is ending
    }
    if (chunk.hidden) {
      if (chunk.written == 0)
        appendExchange(session.exchange, kSentMark, kHiddenInputText, std::strlen(kHiddenInputText));
    } else {
      appendExchange(session.exchange, kSentMark, chunk.bytes.data() + chunk.written, static_cast<size_t>(put));
    }
    chunk.written += static_cast<size_t>(put);
    terminal.inputBytes -= static_cast<size_t>(put);
    if (chunk.written == chunk.bytes.size()) {
      if (chunk.hidden) wipe(chunk.bytes);
      terminal.input.pop_front();
    }
  }
}

void reapShell(Session& session) {
  Terminal& terminal = session.terminal;
  if (!terminal.shellAlive) return;
  int status = 0;
  pid_t pid = waitpid(terminal.shellPid, &status, WNOHANG);
  if (pid == terminal.shellPid) {
    terminal.shellAlive = false;
    terminal.shellStatus = status;
    session.ending = true;
    session.endBy = Clock::now() + kDrainTime;
  }
}

void hangUpShell(Terminal& terminal) {
  if (!terminal.shellAlive) return;
  kill(-terminal.shellPid, SIGHUP);
  kill(-terminal.shellPid, SIGCONT);
  if (terminal.master >= 0) {
    close(terminal.master);
    terminal.master = -1;
    terminal.masterOpen = false;
  }
  auto deadline = Clock::now() + kHangupGrace;
  while (Clock::now() < deadline) {
    if (waitpid(terminal.shellPid, nullptr, WNOHANG) == terminal.shellPid) {
      terminal.shellAlive = false;
      break;
    }
    usleep(10000);
  }
  kill(-terminal.shellPid, SIGKILL);
  if (terminal.shellAlive) {
    kill(terminal.shellPid, SIGKILL);
    waitpid(terminal.shellPid, nullptr, 0);
    terminal.shellAlive = false;
  }
}

std::string exitReason(int status, const std::string& what) {
  if (WIFSIGNALED(status)) return what + " killed by signal " + std::to_string(WTERMSIG(status));
  return what + " exited with status " + std::to_string(WEXITSTATUS(status));
}

}  // namespace kor
