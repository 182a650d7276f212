#include "kor/SignalPipe.h"

#include <errno.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <string>

#include "base/FdIo.h"
#include "base/Signals.h"

namespace kor {

namespace {

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t stopSignal = 0;
volatile sig_atomic_t loginNotice = 0;

void wake(char byte) {
  int saved = errno;
  ssize_t ignored = write(signalPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}

void onTerminate(int sig) {
  stopSignal = sig;
  wake(2);
}

void onChild(int) { wake(1); }

void onLoginNotice(int) {
  loginNotice = 1;
  wake(3);
}

}  // namespace

void installSignalPipe() {
  if (pipe(signalPipe) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  setNonBlockingAndCloseOnExec(signalPipe[0]);
  setNonBlockingAndCloseOnExec(signalPipe[1]);
  // SIGXFSZ too: a file size limit makes a write fail (and the daemon say so), not end it.
  for (int sig : {SIGPIPE, SIGHUP, SIGINT, SIGQUIT, SIGXFSZ}) setSignalAction(sig, SIG_IGN);
  setSignalAction(SIGCHLD, onChild, SA_RESTART | SA_NOCLDSTOP);
  setSignalAction(SIGTERM, onTerminate, SA_RESTART);
  setSignalAction(SIGUSR1, onLoginNotice, SA_RESTART);
}

int signalPipeReadEnd() { return signalPipe[0]; }

void drainSignalPipe() {
  char drain[64];
  while (read(signalPipe[0], drain, sizeof drain) > 0) {
  }
}

int terminateSignal() { return stopSignal; }

bool takeLoginNotice() {
  if (!loginNotice) return false;
  loginNotice = 0;
  return true;
}

}  // namespace kor
