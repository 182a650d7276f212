#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "base/FdIo.h"
#include "base/Signals.h"

using namespace kor;

namespace {

void onAlarm(int) {}

// Reads everything from fd in small, slow pieces, with SIGALRM blocked in this thread so the
// timer interrupts the writer.
std::string drainSlowly(int fd) {
  sigset_t alarm;
  sigemptyset(&alarm);
  sigaddset(&alarm, SIGALRM);
  pthread_sigmask(SIG_BLOCK, &alarm, nullptr);
  std::string got;
  char buffer[8192];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) != 0;) {
    if (n > 0) got.append(buffer, static_cast<size_t>(n));
    usleep(2000);  // slower than the timer, so writes find the pipe full and get interrupted
  }
  return got;
}

}  // namespace

// The writer outpaces the reader: a full non-blocking pipe and writes interrupted by a
// signal (no SA_RESTART) must neither lose, repeat nor reorder a byte.
TEST(FdIo, WritesEverythingThroughAFullPipe) {
  std::string data;
  for (int i = 0; data.size() < (256u << 10); ++i) data += std::to_string(i) + ",";
  for (bool nonBlocking : {true, false}) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    if (nonBlocking) fcntl(pipeFds[1], F_SETFL, O_NONBLOCK);
    struct sigaction previous;
    setSignalAction(SIGALRM, onAlarm, 0, &previous);
    struct itimerval every{{0, 500}, {0, 500}};
    setitimer(ITIMER_REAL, &every, nullptr);
    std::string got;
    std::thread reader([&] { got = drainSlowly(pipeFds[0]); });
    bool ok = writeFully(pipeFds[1], data.data(), data.size());
    struct itimerval off{};
    setitimer(ITIMER_REAL, &off, nullptr);
    sigaction(SIGALRM, &previous, nullptr);
    close(pipeFds[1]);
    reader.join();
    close(pipeFds[0]);
    EXPECT_TRUE(ok) << nonBlocking;
    EXPECT_TRUE(got == data) << nonBlocking << ": " << got.size() << " of " << data.size() << " bytes";
  }
}

TEST(FdIo, FailuresReportTheirErrno) {
  // A peer that has gone: EPIPE, and the process is still here (no SIGPIPE).
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  close(pair[1]);
  EXPECT_FALSE(writeFully(pair[0], "x", 1));
  EXPECT_EQ(errno, EPIPE);
  close(pair[0]);

  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  EXPECT_FALSE(writeFully(full, "x", 1));
  EXPECT_EQ(errno, ENOSPC);
  close(full);

  EXPECT_FALSE(writeFully(-1, "x", 1));
  EXPECT_EQ(errno, EBADF);
  EXPECT_TRUE(writeFully(-1, "", 0));  // nothing to write touches nothing
}
