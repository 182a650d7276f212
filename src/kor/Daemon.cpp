#include "kor/Daemon.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fstream>
#include <list>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/ControlClient.h"
#include "base/FdIo.h"
#include "base/Paths.h"
#include "base/PrivateDir.h"
#include "base/Signals.h"
#include "base/SocketAddress.h"
#include "base/StatusRecord.h"
#include "kor/ExchangeLog.h"
#include "kor/KorOptions.h"
#include "kor/OutputBuffer.h"
#include "kor/Pty.h"
#include "kor/Requests.h"

namespace kor {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kClientTimeout = std::chrono::seconds(10);
constexpr auto kDrainTime = std::chrono::seconds(1);
constexpr auto kHangupGrace = std::chrono::milliseconds(500);
constexpr size_t kReadBlock = 64 * 1024;
// Reads of terminal output per pass, so a flood of output never starves the clients.
constexpr int kReadsPerPass = 64;
// Input waiting for a shell that does not read is bounded; beyond this requests are refused.
constexpr size_t kMaxQueuedInput = 256u * 1024 * 1024;

int sigchldPipe[2] = {-1, -1};
volatile sig_atomic_t terminateSignal = 0;

void onTerminate(int sig) {
  terminateSignal = sig;
  int saved = errno;
  char byte = 2;
  ssize_t ignored = write(sigchldPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

void onChild(int) {
  int saved = errno;
  char byte = 1;
  ssize_t ignored = write(sigchldPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

void setNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
}

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

// Overwrites a secret before its memory is given back.
void wipe(std::string& secret) {
  volatile char* bytes = secret.empty() ? nullptr : &secret[0];
  for (size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
  secret.clear();
}

struct Client {
  int fd = -1;
  char header[5];
  size_t headerGot = 0;
  uint8_t type = 0;
  uint32_t length = 0;
  std::string payload;
  uint64_t discard = 0;  // payload bytes still to skip after an early error reply
  bool answered = false;
  std::string outHeader;  // the reply frame's header, then its payload, sent in that order
  std::string out;
  size_t sent = 0;        // bytes of header and payload sent
  Clock::time_point lastProgress;
};

struct InputChunk {
  std::string bytes;
  size_t written = 0;
  bool hidden = false;
};

struct Session {
  KorOptions options;
  std::string socketPath;
  bool hasGoneFile = false;
  int listenFd = -1;
  ino_t socketInode = 0;  // the socket file this daemon made
  dev_t socketDevice = 0;
  int master = -1;
  bool masterOpen = false;
  pid_t shellPid = -1;
  bool shellAlive = false;
  int shellStatus = 0;
  OutputBuffer output;
  ExchangeLog exchange;
  std::deque<InputChunk> input;
  std::list<Client> clients;
  TermSize size;
  long long created = 0;
  long long lastActivity = 0;
  bool killRequested = false;
  bool ending = false;  // the shell is gone; draining what it left
  Clock::time_point endBy;
};

// ---- start-up checks (in the foreground, before anything is detached) ----

void createPrivateDir(const std::string& path) {
  if (int error = makePrivateDir(path)) throw std::runtime_error("cannot create " + path + ": " + std::strerror(error));
}

// The control directory must be a real directory of ours that nobody else can write to.
void checkControlDir(const std::string& dir) {
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) throw std::runtime_error(errorText("cannot use control directory " + dir));
  if (!S_ISDIR(st.st_mode)) throw std::runtime_error("unsafe control directory " + dir + " (not a directory)");
  if (st.st_uid != geteuid()) throw std::runtime_error("unsafe control directory " + dir + " (owned by another user)");
  if (st.st_mode & 022)
    throw std::runtime_error("unsafe control directory " + dir + " (writable by others; chmod 700 it)");
}

std::string lockPathFor(const std::string& socketPath) {
  const std::string suffix = ".sock";
  if (socketPath.size() > suffix.size() &&
      socketPath.compare(socketPath.size() - suffix.size(), suffix.size(), suffix) == 0)
    return socketPath.substr(0, socketPath.size() - suffix.size()) + ".lock";
  return socketPath + ".lock";
}

std::string ownHostName() {
  char name[256] = {0};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

std::string loginShell(const KorOptions& options) {
  if (!options.shell.empty()) return options.shell;
  const char* shell = std::getenv("SHELL");
  if (shell && *shell) return shell;
  if (struct passwd* entry = getpwuid(getuid())) {
    if (entry->pw_shell && *entry->pw_shell) return entry->pw_shell;
  }
  return "/bin/sh";
}

struct Program {
  std::vector<std::string> argv;
  std::string argv0;
};

Program sessionProgram(const KorOptions& options) {
  if (isLocalHost(options.host, ownHostName())) {
    std::string shell = loginShell(options);
    if (shell.find('/') != std::string::npos && access(shell.c_str(), X_OK) != 0)
      throw std::runtime_error(errorText("shell " + shell + " is not executable"));
    std::string base = shell.substr(shell.rfind('/') + 1);
    return Program{{shell}, "-" + base};  // a login shell
  }
  std::vector<std::string> ssh = sshCommand(options.host);
  return Program{ssh, ssh[0]};
}

std::string socketPathTooLong(const std::string& path) {
  return "control socket path too long (" + std::to_string(path.size()) + " bytes, at most " +
         std::to_string(kMaxSocketPathLength) + "): " + path;
}

// Binds and listens on path (mode 0600); the socket accepts connections from here on.
int listenOn(const std::string& path) {
  struct sockaddr_un address;
  if (!makeSocketAddress(path, address)) throw std::runtime_error(socketPathTooLong(path));
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error(errorText("socket"));
  mode_t old = umask(077);
  int bound = bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address);
  int error = errno;
  umask(old);
  if (bound != 0) {
    close(fd);
    errno = error;
    throw std::runtime_error(errorText("cannot bind " + path));
  }
  chmod(path.c_str(), 0600);
  if (listen(fd, 128) != 0) {
    close(fd);
    unlink(path.c_str());
    throw std::runtime_error(errorText("cannot listen on " + path));
  }
  setNonBlocking(fd);
  return fd;
}

// ---- the event loop ----

long long now() { return static_cast<long long>(std::time(nullptr)); }

void queueReply(Client& client, uint8_t type, std::string payload) {
  client.outHeader = encodeFrameHeader(type, static_cast<uint32_t>(payload.size()));
  client.out = std::move(payload);  // large replies are never copied again
  client.sent = 0;
  client.answered = true;
}

size_t replySize(const Client& client) { return client.outHeader.size() + client.out.size(); }
bool replyPending(const Client& client) { return client.sent < replySize(client); }

void queueError(Client& client, const std::string& text) { queueReply(client, kErrorReply, text); }

void handleRequest(Session& session, Client& client) {
  switch (client.type) {
    case kInput:
    case kHiddenInput: {
      if (!session.shellAlive) {
        if (client.type == kHiddenInput) wipe(client.payload);
        queueError(client, "the session's shell has ended");
        return;
      }
      if (!client.payload.empty()) {
        session.input.push_back(InputChunk{std::move(client.payload), 0, client.type == kHiddenInput});
        client.payload = std::string();
      }
      session.lastActivity = now();
      queueReply(client, client.type, "");
      return;
    }
    case kResize: {
      TermSize next = session.size;
      std::string error = applyResize(client.payload, next);
      if (!error.empty()) return queueError(client, error);
      if (session.masterOpen && !setPtySize(session.master, next.rows, next.cols, next.pixelWidth, next.pixelHeight))
        return queueError(client, errorText("cannot resize the terminal"));
      session.size = next;
      return queueReply(client, kResize, "");
    }
    case kReadOutput:
      return queueReply(client, kReadOutput, outputReadReply(session.output, decodeInt64(client.payload.data())));
    case kSniff:
      return queueReply(client, kSniff, exchangeReadReply(session.exchange, decodeInt64(client.payload.data())));
    case kStatus: {
      SessionStatus status;
      status.name = session.options.name;
      status.host = session.options.host;
      status.pid = getpid();
      status.shellPid = session.shellPid;
      status.connected = session.shellAlive;
      status.created = session.created;
      status.lastActivity = session.lastActivity;
      status.headCursor = session.output.head;
      status.tailCursor = tailCursor(session.output);
      status.scrollback = session.output.limit;
      status.rows = session.size.rows;
      status.cols = session.size.cols;
      return queueReply(client, kStatus, formatStatus(status));
    }
    case kKill:
      session.killRequested = true;
      return queueReply(client, kKill, "");
    default:
      return queueError(client, "unknown request type " + std::to_string(client.type));
  }
}

size_t queuedInput(const Session& session) {
  size_t total = 0;
  for (const InputChunk& chunk : session.input) total += chunk.bytes.size() - chunk.written;
  return total;
}

// Reads what the client sent; false when the client is done with (closed or broken).
bool readClient(Session& session, Client& client) {
  char buffer[65536];
  for (;;) {
    size_t want = sizeof buffer;
    if (client.headerGot < 5) {
      want = 5 - client.headerGot;
    } else if (client.discard > 0) {
      want = static_cast<size_t>(std::min<uint64_t>(client.discard, sizeof buffer));
    } else if (!client.answered) {
      want = std::min<size_t>(client.length - client.payload.size(), sizeof buffer);
    }
    char* target = client.headerGot < 5 ? client.header + client.headerGot : buffer;
    ssize_t got = read(client.fd, target, want);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    if (got == 0) return client.answered && replyPending(client);  // finish a pending reply
    client.lastProgress = Clock::now();
    size_t n = static_cast<size_t>(got);
    if (client.headerGot < 5) {
      client.headerGot += n;
      if (client.headerGot < 5) continue;
      client.type = static_cast<uint8_t>(client.header[0]);
      client.length = decodeUint32(client.header + 1);
      std::string error = checkRequestHeader(client.type, client.length);
      if (error.empty() && (client.type == kInput || client.type == kHiddenInput) &&
          queuedInput(session) + client.length > kMaxQueuedInput)
        error = "the session's shell is not reading its input (" + std::to_string(queuedInput(session)) +
                " bytes waiting)";
      if (!error.empty()) {
        client.discard = client.length;
        queueError(client, error);
        return true;
      }
      if (client.length == 0) {
        handleRequest(session, client);
        return true;
      }
      // A secret is read into its final place, so no reallocation leaves copies behind.
      if (client.type == kHiddenInput && client.length <= 1024 * 1024) client.payload.reserve(client.length);
      continue;
    }
    if (client.discard > 0) {
      client.discard -= n;
      continue;
    }
    if (client.answered) continue;  // bytes past the one request are ignored
    client.payload.append(buffer, n);
    if (client.payload.size() == client.length) {
      handleRequest(session, client);
      if (client.type == kHiddenInput) std::memset(buffer, 0, sizeof buffer);
      return true;
    }
  }
}

// Sends what is pending; false when the client is done with.
bool writeClient(Client& client) {
  while (replyPending(client)) {
    size_t headerSize = client.outHeader.size();
    const char* from = client.sent < headerSize ? client.outHeader.data() + client.sent
                                                : client.out.data() + (client.sent - headerSize);
    size_t count = client.sent < headerSize ? headerSize - client.sent : replySize(client) - client.sent;
    ssize_t put = send(client.fd, from, count, MSG_NOSIGNAL);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    client.sent += static_cast<size_t>(put);
    client.lastProgress = Clock::now();
  }
  // The reply is out; keep the connection only while an oversized payload is still arriving.
  return client.discard > 0;
}

void recordOutput(Session& session, const char* data, size_t length) {
  appendOutput(session.output, data, length);
  appendExchange(session.exchange, kReceivedMark, data, length);
  session.lastActivity = now();
}

// Reads terminal output; marks the terminal closed once the other side has gone.
void readTerminal(Session& session) {
  static char buffer[kReadBlock];
  for (int i = 0; i < kReadsPerPass && session.masterOpen; ++i) {
    ssize_t got = read(session.master, buffer, sizeof buffer);
    if (got > 0) {
      recordOutput(session, buffer, static_cast<size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    session.masterOpen = false;  // EOF or EIO: nothing holds the terminal any more
  }
}

// Writes queued input as the terminal takes it, in order.
void writeTerminal(Session& session) {
  while (!session.input.empty() && session.masterOpen) {
    InputChunk& chunk = session.input.front();
    ssize_t put = write(session.master, chunk.bytes.data() + chunk.written, chunk.bytes.size() - chunk.written);
    if (put < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      // The terminal refuses input: drop it, the session is ending.
      for (InputChunk& dropped : session.input)
        if (dropped.hidden) wipe(dropped.bytes);
      session.input.clear();
      return;
    }
    if (chunk.hidden) {
      if (chunk.written == 0)
        appendExchange(session.exchange, kSentMark, kHiddenInputText, std::strlen(kHiddenInputText));
    } else {
      appendExchange(session.exchange, kSentMark, chunk.bytes.data() + chunk.written, static_cast<size_t>(put));
    }
    chunk.written += static_cast<size_t>(put);
    if (chunk.written == chunk.bytes.size()) {
      if (chunk.hidden) wipe(chunk.bytes);
      session.input.pop_front();
    }
  }
}

void reapShell(Session& session) {
  char drain[64];
  while (read(sigchldPipe[0], drain, sizeof drain) > 0) {
  }
  if (!session.shellAlive) return;
  int status = 0;
  pid_t pid = waitpid(session.shellPid, &status, WNOHANG);
  if (pid == session.shellPid) {
    session.shellAlive = false;
    session.shellStatus = status;
    session.ending = true;
    session.endBy = Clock::now() + kDrainTime;
  }
}

void writeGone(Session& session, const std::string& reason) {
  if (!session.hasGoneFile) return;
  try {
    std::string path = goneFilePath(session.options.name);
    std::string temporary = path + ".tmp";
    {
      std::ofstream file(temporary, std::ios::trunc);
      file << now() << ' ' << reason << '\n';
    }
    std::rename(temporary.c_str(), path.c_str());
  } catch (...) {
  }
}

void stopListening(Session& session) {
  if (session.listenFd < 0) return;
  // The name goes first, so once connections are refused the socket file is gone as well.
  // Only our own socket goes; a newer session may have taken the path since.
  struct stat st;
  if (lstat(session.socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_ino == session.socketInode &&
      st.st_dev == session.socketDevice)
    unlink(session.socketPath.c_str());
  close(session.listenFd);
  session.listenFd = -1;
}

std::string exitReason(int status) {
  if (WIFSIGNALED(status)) return "shell killed by signal " + std::to_string(WTERMSIG(status));
  return "shell exited with status " + std::to_string(WEXITSTATUS(status));
}

// Hangs up the shell's process group, then kills what is left after a short grace.
void hangUpShell(Session& session) {
  if (!session.shellAlive) return;
  kill(-session.shellPid, SIGHUP);
  kill(-session.shellPid, SIGCONT);
  if (session.master >= 0) {
    close(session.master);
    session.master = -1;
    session.masterOpen = false;
  }
  auto deadline = Clock::now() + kHangupGrace;
  while (Clock::now() < deadline) {
    if (waitpid(session.shellPid, nullptr, WNOHANG) == session.shellPid) {
      session.shellAlive = false;
      break;
    }
    usleep(10000);
  }
  kill(-session.shellPid, SIGKILL);
  if (session.shellAlive) {
    kill(session.shellPid, SIGKILL);
    waitpid(session.shellPid, nullptr, 0);
    session.shellAlive = false;
  }
}

// Gives replies already answered a last short chance to go out before the daemon stops.
void flushReplies(Session& session) {
  auto deadline = Clock::now() + std::chrono::milliseconds(500);
  for (Client& client : session.clients) {
    while (client.answered && replyPending(client) && Clock::now() < deadline) {
      if (!writeClient(client) && replyPending(client)) break;
      if (replyPending(client)) {
        struct pollfd pfd = {client.fd, POLLOUT, 0};
        poll(&pfd, 1, 10);
      }
    }
  }
}

void closeClients(Session& session) {
  for (Client& client : session.clients) {
    if (client.type == kHiddenInput) wipe(client.payload);
    close(client.fd);
  }
  session.clients.clear();
}

void acceptClients(Session& session) {
  for (int i = 0; i < 64; ++i) {
    int fd = accept(session.listenFd, nullptr, nullptr);
    if (fd < 0) return;
    setNonBlocking(fd);
    Client client;
    client.fd = fd;
    client.lastProgress = Clock::now();
    session.clients.push_back(std::move(client));
  }
}

void serve(Session& session) {
  std::vector<struct pollfd> fds;
  std::vector<Client*> polled;
  for (;;) {
    if (session.killRequested || terminateSignal) {
      flushReplies(session);
      writeGone(session, terminateSignal ? "daemon terminated by signal " + std::to_string(terminateSignal)
                                         : std::string("killed by request"));
      stopListening(session);
      closeClients(session);
      hangUpShell(session);
      return;
    }
    if (session.ending && (!session.masterOpen || Clock::now() >= session.endBy)) {
      flushReplies(session);
      writeGone(session, exitReason(session.shellStatus));
      stopListening(session);
      closeClients(session);
      return;
    }

    fds.clear();
    polled.clear();
    fds.push_back({session.listenFd, POLLIN, 0});
    fds.push_back({sigchldPipe[0], POLLIN, 0});
    short terminalEvents = 0;
    if (session.masterOpen) {
      terminalEvents = POLLIN;
      if (!session.input.empty()) terminalEvents |= POLLOUT;
    }
    fds.push_back({session.masterOpen ? session.master : -1, terminalEvents, 0});
    auto nowTime = Clock::now();
    auto wake = nowTime + std::chrono::seconds(1);
    if (session.ending && session.endBy < wake) wake = session.endBy;
    for (Client& client : session.clients) {
      short events = 0;
      if (replyPending(client)) events |= POLLOUT;
      if (!client.answered || client.discard > 0) events |= POLLIN;
      fds.push_back({client.fd, events, 0});
      polled.push_back(&client);
      if (client.lastProgress + kClientTimeout < wake) wake = client.lastProgress + kClientTimeout;
    }
    int timeout = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(wake - nowTime).count()) + 1;
    if (timeout < 0) timeout = 0;
    int ready = poll(fds.data(), fds.size(), timeout);
    if (ready < 0 && errno != EINTR) throw std::runtime_error(errorText("poll"));

    if (fds[1].revents) reapShell(session);
    if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) readTerminal(session);
    if (session.masterOpen && (fds[2].revents & POLLOUT)) writeTerminal(session);

    std::vector<Client*> finished;
    for (size_t i = 0; i < polled.size(); ++i) {
      Client& client = *polled[i];
      short revents = fds[3 + i].revents;
      bool keep = true;
      if (revents & (POLLIN | POLLHUP | POLLERR)) {
        if (!client.answered || client.discard > 0) keep = readClient(session, client);
        else if (!(revents & POLLIN)) keep = replyPending(client);
      }
      if (keep && replyPending(client)) keep = writeClient(client);
      else if (keep && client.answered && !replyPending(client) && client.discard == 0) keep = false;
      if (keep && Clock::now() - client.lastProgress > kClientTimeout) keep = false;
      if (!keep) finished.push_back(&client);
    }
    for (Client* client : finished) {
      if (client->type == kHiddenInput) wipe(client->payload);
      close(client->fd);
      session.clients.remove_if([client](const Client& c) { return &c == client; });
    }
    // Input queued by this pass goes out at once when the terminal takes it.
    if (session.masterOpen && !session.input.empty()) writeTerminal(session);
    if (fds[0].revents & POLLIN) acceptClients(session);
  }
}

// ---- start-up ----

// A foreground that has gone needs no answer.
void tellForeground(int fd, const std::string& message) { (void)writeFully(fd, message.data(), message.size()); }

void installHandlers() {
  for (int sig : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT}) setSignalAction(sig, SIG_IGN);
  setSignalAction(SIGCHLD, onChild, SA_RESTART | SA_NOCLDSTOP);
  setSignalAction(SIGTERM, onTerminate, SA_RESTART);
}

// Runs in the detached daemon: starts the shell, hands it the set-up line, reports to the
// foreground through ready, then serves until the session ends.
void runDaemon(Session& session, const Program& program, int ready, int lockFd) {
  int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (null > 2) close(null);
  }
  if (pipe(sigchldPipe) != 0) {
    tellForeground(ready, errorText("pipe"));
    stopListening(session);
    _exit(1);
  }
  setNonBlocking(sigchldPipe[0]);
  setNonBlocking(sigchldPipe[1]);
  installHandlers();

  std::string home;
  try {
    home = homeDir();
  } catch (...) {
  }
  PtyChild child;
  try {
    child = spawnInPty(program.argv, program.argv0, session.size.rows, session.size.cols,
                       {{"TERM", "xterm-256color"}}, home);
  } catch (const std::exception& error) {
    tellForeground(ready, error.what());
    stopListening(session);
    _exit(1);
  }
  session.master = child.master;
  session.masterOpen = true;
  session.shellPid = child.pid;
  session.shellAlive = true;
  session.created = now();
  session.lastActivity = session.created;

  if (!session.options.command.empty()) {
    session.input.push_back(InputChunk{session.options.command + "\n", 0, false});
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!session.input.empty() && session.masterOpen && Clock::now() < deadline) {
      writeTerminal(session);
      if (session.input.empty()) break;
      struct pollfd pfd = {session.master, POLLIN | POLLOUT, 0};
      poll(&pfd, 1, 50);
      if (pfd.revents & POLLIN) readTerminal(session);
    }
  }
  tellForeground(ready, "ok");
  close(ready);
  close(lockFd);
  serve(session);
  _exit(0);
}

int startSession(const KorOptions& options) {
  Session session;
  session.options = options;
  session.output = makeOutputBuffer(options.scrollback);
  session.size.rows = options.rows;
  session.size.cols = options.cols;
  session.hasGoneFile = isValidSessionName(options.name);

  std::string control = controlDir();
  createPrivateDir(homeDir() + "/.kor");
  createPrivateDir(control);
  checkControlDir(control);
  session.socketPath = options.ctlSocket.empty() ? controlSocketPath(options.name) : options.ctlSocket;
  if (session.socketPath[0] != '/') {  // the daemon leaves this directory; keep finding its socket
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) session.socketPath = std::string(cwd) + "/" + session.socketPath;
  }
  if (session.socketPath.size() > kMaxSocketPathLength)
    throw std::runtime_error(socketPathTooLong(session.socketPath));
  Program program = sessionProgram(options);

  // One start at a time per socket: a second open of the same name waits here, then finds
  // the first one's session running.
  std::string lockPath = lockPathFor(session.socketPath);
  int lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) throw std::runtime_error(errorText("cannot open lock file " + lockPath));
  while (flock(lockFd, LOCK_EX) != 0) {
    if (errno != EINTR) throw std::runtime_error(errorText("cannot lock " + lockPath));
  }

  const Endpoint endpoint{options.name, session.socketPath};
  if (acceptsConnections(endpoint)) {
    uint8_t type = 0;
    std::string record;
    std::string host;
    if (controlExchange(endpoint, kStatus, "", type, record, true)) host = parseStatusRecord(record)["host"];
    if (host == options.host) {
      std::fprintf(stderr, "kor: session '%s' already running (%s)\n", options.name.c_str(), host.c_str());
      return 0;
    }
    throw std::runtime_error("session name '" + options.name + "' is held by a live session (" +
                             (host.empty() ? std::string("?") : host) + ")");
  }
  struct stat st;
  if (lstat(session.socketPath.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(session.socketPath + " exists and is not a socket");
    unlink(session.socketPath.c_str());  // left behind by a daemon that is gone
  }
  if (session.hasGoneFile) unlink(goneFilePath(options.name).c_str());
  session.listenFd = listenOn(session.socketPath);
  if (lstat(session.socketPath.c_str(), &st) == 0) {
    session.socketInode = st.st_ino;
    session.socketDevice = st.st_dev;
  }

  int ready[2];
  if (pipe(ready) != 0) {
    stopListening(session);
    throw std::runtime_error(errorText("pipe"));
  }
  fcntl(ready[0], F_SETFD, FD_CLOEXEC);
  fcntl(ready[1], F_SETFD, FD_CLOEXEC);
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t first = fork();
  if (first < 0) {
    stopListening(session);
    throw std::runtime_error(errorText("fork"));
  }
  if (first == 0) {
    close(ready[0]);
    setsid();
    pid_t second = fork();
    if (second != 0) _exit(second < 0 ? 1 : 0);
    if (chdir("/") != 0) {
      // stays where it was started; nothing depends on it
    }
    runDaemon(session, program, ready[1], lockFd);
  }
  close(ready[1]);
  close(session.listenFd);
  waitpid(first, nullptr, 0);
  std::string message;
  char buffer[512];
  for (;;) {
    ssize_t got = read(ready[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    message.append(buffer, static_cast<size_t>(got));
  }
  close(ready[0]);
  if (message == "ok") return 0;
  if (message.empty()) message = "the session daemon ended during start-up";
  throw std::runtime_error(message);
}

}  // namespace

int runKor(int argc, char** argv) {
  KorOptions options;
  try {
    options = parseKorArgs(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kor: %s\n", error.what());
    return 2;
  }
  if (options.help) {
    std::fputs(korHelpText().c_str(), stdout);
    return 0;
  }
  try {
    return startSession(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kor: %s\n", error.what());
    return 1;
  }
}

}  // namespace kor
