#include "kor/Pty.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "base/FdIo.h"
#include "base/Signals.h"

#if defined(__linux__)
#include <pty.h>
#else
#include <libutil.h>
#endif

namespace kor {

namespace {

struct winsize windowSize(int rows, int cols, int pixelWidth, int pixelHeight) {
  struct winsize size;
  std::memset(&size, 0, sizeof size);
  size.ws_row = static_cast<unsigned short>(rows);
  size.ws_col = static_cast<unsigned short>(cols);
  size.ws_xpixel = static_cast<unsigned short>(pixelWidth);
  size.ws_ypixel = static_cast<unsigned short>(pixelHeight);
  return size;
}

}  // namespace

PtyChild spawnInPty(const std::vector<std::string>& argv, const std::string& argv0, int rows, int cols,
                    const std::vector<std::pair<std::string, std::string>>& environment,
                    const std::string& dir) {
  // The child reports a failed exec through this pipe; a successful exec closes it.
  int report[2];
  if (pipe(report) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  fcntl(report[0], F_SETFD, FD_CLOEXEC);
  fcntl(report[1], F_SETFD, FD_CLOEXEC);

  std::vector<std::string> args = argv;
  args[0] = argv0;
  std::vector<char*> cargs;
  for (std::string& arg : args) cargs.push_back(&arg[0]);
  cargs.push_back(nullptr);

  struct winsize size = windowSize(rows, cols, 0, 0);
  int master = -1;
  pid_t pid = forkpty(&master, nullptr, nullptr, &size);
  if (pid < 0) {
    int error = errno;
    close(report[0]);
    close(report[1]);
    throw std::runtime_error(std::string("cannot create a pseudo-terminal: ") + std::strerror(error));
  }
  if (pid == 0) {
    close(report[0]);
    for (int sig : {SIGPIPE, SIGCHLD, SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGWINCH, SIGXFSZ}) setSignalAction(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (const auto& entry : environment) setenv(entry.first.c_str(), entry.second.c_str(), 1);
    if (dir.empty() || chdir(dir.c_str()) != 0) {
      if (chdir("/") != 0) {
        // nothing better to do; the program starts where it is
      }
    }
    execvp(argv[0].c_str(), cargs.data());
    int error = errno;
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got == static_cast<ssize_t>(sizeof error)) {
    close(master);
    waitpid(pid, nullptr, 0);
    throw std::runtime_error("cannot execute " + argv[0] + ": " + std::strerror(error));
  }
  setNonBlockingAndCloseOnExec(master);
  return PtyChild{master, pid};
}

bool setPtySize(int master, int rows, int cols, int pixelWidth, int pixelHeight) {
  struct winsize size = windowSize(rows, cols, pixelWidth, pixelHeight);
  return ioctl(master, TIOCSWINSZ, &size) == 0;
}

}  // namespace kor
