#include "kor/StartUp.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "base/ControlClient.h"
#include "base/FdIo.h"
#include "base/Paths.h"
#include "base/PrivateDir.h"
#include "base/PrivateFile.h"
#include "base/SocketAddress.h"
#include "base/StatusRecord.h"
#include "kor/Login.h"
#include "kor/Serve.h"
#include "kor/SignalPipe.h"
#include "kor/Terminal.h"

namespace kor {

namespace {

std::string errorText(const std::string& what) { return what + ": " + std::strerror(errno); }

void createPrivateDir(const std::string& path) {
  if (int error = makePrivateDir(path)) throw std::runtime_error("cannot create " + path + ": " + std::strerror(error));
}

// The control directory must be a real directory of ours that nobody else can write to.
void prepareControlDir() {
  const std::string dir = controlDir();
  createPrivateDir(homeDir() + "/.kor");
  createPrivateDir(dir);
  struct stat st;
  if (lstat(dir.c_str(), &st) != 0) throw std::runtime_error(errorText("cannot use control directory " + dir));
  if (!S_ISDIR(st.st_mode)) throw std::runtime_error("unsafe control directory " + dir + " (not a directory)");
  if (st.st_uid != geteuid()) throw std::runtime_error("unsafe control directory " + dir + " (owned by another user)");
  if (st.st_mode & 022)
    throw std::runtime_error("unsafe control directory " + dir + " (writable by others; chmod 700 it)");
}

// Absolute, since the daemon leaves this directory and must keep finding its socket.
std::string socketPathFor(const KorOptions& options) {
  std::string path = options.ctlSocket.empty() ? controlSocketPath(options.name) : options.ctlSocket;
  if (path[0] != '/') {
    char cwd[4096];
    if (getcwd(cwd, sizeof cwd)) path = std::string(cwd) + "/" + path;
  }
  if (path.size() > kMaxSocketPathLength) throw std::runtime_error(socketPathTooLong(path));
  return path;
}

std::string lockPathFor(const std::string& socketPath) {
  const std::string suffix = ".sock";
  if (socketPath.size() > suffix.size() &&
      socketPath.compare(socketPath.size() - suffix.size(), suffix.size(), suffix) == 0)
    return socketPath.substr(0, socketPath.size() - suffix.size()) + ".lock";
  return socketPath + ".lock";
}

// One start at a time per socket: a second open of the same name waits here, then finds the
// first one's session running. The lock holds until the daemon reports ready; its file's time
// says when the session last started.
int lockStart(const std::string& socketPath) {
  std::string lockPath = lockPathFor(socketPath);
  for (;;) {
    std::string error;
    int lockFd = openPrivateLockFile(lockPath, error);
    if (lockFd < 0) throw std::runtime_error(error);
    while (flock(lockFd, LOCK_EX) != 0) {
      if (errno != EINTR) throw std::runtime_error(errorText("cannot lock " + lockPath));
    }
    if (stillNamed(lockFd, lockPath)) {
      futimens(lockFd, nullptr);
      return lockFd;
    }
    close(lockFd);
  }
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

Program sessionProgram(const KorOptions& options) {
  if (isLocalHost(options.host, ownHostName())) {
    std::string shell = loginShell(options);
    if (shell.find('/') != std::string::npos && access(shell.c_str(), X_OK) != 0)
      throw std::runtime_error(errorText("shell " + shell + " is not executable"));
    std::string base = shell.substr(shell.rfind('/') + 1);
    return Program{{shell}, "-" + base};  // a login shell
  }
  std::vector<std::string> ssh = sshCommand(options.host, "");  // the notice names the daemon, once it runs
  return Program{ssh, ssh[0], true};
}

// True when a session already serves the socket with the same host (nothing more to do);
// raises when one with another host holds it.
bool alreadyRunning(const KorOptions& options, const std::string& socketPath) {
  const Endpoint endpoint{options.name, socketPath};
  const ControlConnection probe = openControl(endpoint);
  if (probe.foreign) throw std::runtime_error("not replacing " + socketPath + ": " + foreignDaemonText(probe));
  if (probe.fd < 0) return false;
  close(probe.fd);
  uint8_t type = 0;
  std::string record;
  std::string host;
  if (controlExchange(endpoint, kStatus, "", type, record, true)) host = parseStatusRecord(record)["host"];
  if (host == options.host) {
    std::fprintf(stderr, "kor: session '%s' already running (%s)\n", options.name.c_str(), host.c_str());
    return true;
  }
  throw std::runtime_error("session name '" + options.name + "' is held by a live session (" +
                           (host.empty() ? std::string("?") : host) + ")");
}

// Clears what an ended daemon left at the socket path, then listens there.
void takeSocket(ControlFiles& files) {
  struct stat st;
  if (lstat(files.socketPath.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) throw std::runtime_error(files.socketPath + " exists and is not a socket");
    if (st.st_uid != geteuid())
      throw std::runtime_error("not replacing " + files.socketPath + ": it belongs to uid " + std::to_string(st.st_uid));
    unlink(files.socketPath.c_str());  // left behind by a daemon that is gone
  }
  if (files.hasGoneFile) unlink(goneFilePath(files.name).c_str());
  listenOn(files);
}

// A foreground that has gone needs no answer.
void tellForeground(int fd, const std::string& message) { (void)writeFully(fd, message.data(), message.size()); }

// Runs in the detached daemon: starts the shell, types the set-up line, then serves until the
// session ends; the foreground hears through ready once the line has run (or why the session
// ended first). A remote session types its set-up line once it has logged in (Login.h).
[[noreturn]] void runDaemon(Session& session, Program program, int ready, int lockFd) {
  int null = open("/dev/null", O_RDWR);
  if (null >= 0) {
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (null > 2) close(null);
  }
  session.login.remote = program.remote;
  if (program.remote) program.argv = sshCommand(session.options.host, loginNotice(static_cast<long>(getpid())));
  try {
    installSignalPipe();
    startShell(session, program);
  } catch (const std::exception& error) {
    tellForeground(ready, error.what());
    stopListening(session.files);
    _exit(1);
  }
  if (program.remote) {
    beginLogin(session, ready, lockFd);
  } else {
    beginSetup(session, ready, lockFd);
    typeSetupLine(session);
  }
  serve(session);
  _exit(0);
}

// Forks the daemon into the background (its own session, not a child of the foreground)
// and waits for its report: "ok", or why it could not start.
std::string detach(Session& session, const Program& program, int lockFd) {
  int ready[2];
  if (pipe(ready) != 0) {
    stopListening(session.files);
    throw std::runtime_error(errorText("pipe"));
  }
  fcntl(ready[0], F_SETFD, FD_CLOEXEC);
  fcntl(ready[1], F_SETFD, FD_CLOEXEC);
  std::fflush(stdout);
  std::fflush(stderr);
  pid_t first = fork();
  if (first < 0) {
    stopListening(session.files);
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
  close(session.files.listenFd);
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
  return message;
}

}  // namespace

int startSession(const KorOptions& options) {
  Session session;
  session.options = options;
  session.output = makeOutputBuffer(options.scrollback);
  session.terminal.size.rows = options.rows;
  session.terminal.size.cols = options.cols;
  session.screen = makeScreen(options.rows, options.cols);
  session.files.name = options.name;
  session.files.hasGoneFile = isValidSessionName(options.name);

  prepareControlDir();
  session.files.socketPath = socketPathFor(options);
  Program program = sessionProgram(options);
  int lockFd = lockStart(session.files.socketPath);
  if (alreadyRunning(options, session.files.socketPath)) return 0;
  takeSocket(session.files);

  return reportLogin(options, detach(session, program, lockFd));
}

}  // namespace kor
