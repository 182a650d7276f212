#include <gtest/gtest.h>
#include <signal.h>

#include "base/Signals.h"

using namespace kor;

namespace {

volatile sig_atomic_t received = 0;
void onUser(int sig) { received = sig; }

}  // namespace

TEST(Signals, SetsHandlerFlagsAndEmptyMaskAndHandsBackThePrevious) {
  struct sigaction original;
  sigaction(SIGUSR1, nullptr, &original);
  sigset_t blocked;  // the mask must be emptied, not inherited from whatever was there
  sigfillset(&blocked);
  struct sigaction dirty = {};
  dirty.sa_handler = SIG_IGN;
  dirty.sa_mask = blocked;
  sigaction(SIGUSR1, &dirty, nullptr);

  struct sigaction previous;
  setSignalAction(SIGUSR1, onUser, SA_RESTART, &previous);
  EXPECT_EQ(previous.sa_handler, SIG_IGN);
  struct sigaction now;
  sigaction(SIGUSR1, nullptr, &now);
  EXPECT_EQ(now.sa_handler, onUser);
  EXPECT_TRUE(now.sa_flags & SA_RESTART);
  EXPECT_FALSE(sigismember(&now.sa_mask, SIGUSR2));
  raise(SIGUSR1);
  EXPECT_EQ(received, SIGUSR1);

  setSignalAction(SIGUSR1, SIG_DFL);
  sigaction(SIGUSR1, nullptr, &now);
  EXPECT_EQ(now.sa_handler, SIG_DFL);
  EXPECT_FALSE(now.sa_flags & SA_RESTART);
  sigaction(SIGUSR1, &original, nullptr);
}
