// The control client against in-process peers that misbehave.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "base/ControlClient.h"

using namespace kor;

namespace {

struct Listener {
  std::string dir;
  std::string path;
  int fd = -1;
  Listener() {
    char pattern[] = "/tmp/kcXXXXXX";
    dir = mkdtemp(pattern);
    path = dir + "/s.sock";
    fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    listen(fd, 4);
  }
  ~Listener() {
    close(fd);
    unlink(path.c_str());
    rmdir(dir.c_str());
  }
};

}  // namespace

TEST(ControlClient, QuietFailurePrintsNothing) {
  testing::internal::CaptureStderr();
  uint8_t type = 0;
  std::string reply;
  EXPECT_FALSE(controlExchange(Endpoint{"s", "/tmp/no/such/dir/x.sock"}, kStatus, "", type, reply, true));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(ControlClient, PathTooLongNamesTheReason) {
  std::string path = "/tmp/" + std::string(200, 'x') + ".sock";
  errno = 0;
  EXPECT_EQ(connectSocketPath(path), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
}

// A peer that closes without reading a large request: the write fails with a diagnostic record
// and the io-error and no-response lines, instead of the process dying of SIGPIPE.
TEST(ControlClient, BrokenPipeIsAnIoError) {
  Listener listener;
  std::thread peer([&] {
    int conn = accept(listener.fd, nullptr, nullptr);
    char header[5];
    (void)!read(conn, header, sizeof header);
    close(conn);
  });
  testing::internal::CaptureStderr();
  uint8_t type = 0;
  std::string reply;
  bool ok = controlExchange(Endpoint{"s", listener.path}, kInput, std::string(8 << 20, 'a'), type, reply, false);
  std::string err = testing::internal::GetCapturedStderr();
  peer.join();
  EXPECT_FALSE(ok);
  EXPECT_NE(err.find("Stack Trace: \n[0] "), std::string::npos) << err;
  EXPECT_NE(err.find("Cannot write to raw socket: "), std::string::npos) << err;
  EXPECT_NE(err.find("korctl: io error talking to 's': Cannot write to raw socket\n"
                     "korctl: no response from 's'\n"),
            std::string::npos)
      << err;
}
