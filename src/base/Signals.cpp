#include "base/Signals.h"

#include <cstring>

namespace kor {

void setSignalAction(int sig, void (*handler)(int), int flags, struct sigaction* previous) {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(sig, &action, previous);
}

}  // namespace kor
