#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "base/Cancellation.h"
#include "base/RawSocketUtils.h"
#include "base/Signals.h"

namespace kor {
namespace {

// A read waiting for a reply that never comes (a waiting read parked in the daemon) ends as
// soon as the work is cancelled, instead of when the reply would have come.
TEST(Cancellation, EndsAReadThatWaitsForAReply) {
  int fds[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
  acceptCancellation(SIGALRM);
  itimerval timer{};
  timer.it_value.tv_usec = 100000;
  ASSERT_EQ(setitimer(ITIMER_REAL, &timer, nullptr), 0);
  const auto start = std::chrono::steady_clock::now();
  char byte;
  EXPECT_THROW(RawSocketUtils::readSome(fds[0], &byte, 1), std::runtime_error);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));  // not the poll's 1 s

  EXPECT_TRUE(takeCancellation());
  EXPECT_FALSE(takeCancellation());  // taken once
  ASSERT_EQ(write(fds[1], "x", 1), 1);  // afterwards reads go on as before
  EXPECT_EQ(RawSocketUtils::readSome(fds[0], &byte, 1), 1u);
  setSignalAction(SIGALRM, SIG_DFL);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace kor
