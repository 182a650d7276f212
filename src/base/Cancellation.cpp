#include "base/Cancellation.h"

#include <signal.h>

#include "base/Signals.h"

namespace kor {

namespace {

volatile sig_atomic_t pending = 0;

void onCancel(int) { pending = 1; }

}  // namespace

void acceptCancellation(int sig) { setSignalAction(sig, onCancel); }

bool cancellationPending() { return pending != 0; }

bool takeCancellation() {
  if (!pending) return false;
  pending = 0;
  return true;
}

}  // namespace kor
