#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/ControlClient.h"
#include "base/SocketAddress.h"

using namespace kor;

TEST(SocketAddress, TheLongestPathThatFitsIsServedAndOneMoreIsRefused) {
  char pattern[] = "/tmp/ksXXXXXX";
  std::string dir = mkdtemp(pattern);
  std::string path = dir + "/" + std::string(kMaxSocketPathLength - dir.size() - 1, 's');
  ASSERT_EQ(path.size(), kMaxSocketPathLength);

  sockaddr_un address;
  ASSERT_TRUE(makeSocketAddress(path, address));
  EXPECT_EQ(address.sun_family, AF_UNIX);
  EXPECT_EQ(address.sun_path[kMaxSocketPathLength], '\0');
  int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0) << std::strerror(errno);
  ASSERT_EQ(listen(listener, 1), 0);
  int client = connectSocketPath(path);
  EXPECT_GE(client, 0) << std::strerror(errno);
  close(client);
  close(listener);
  unlink(path.c_str());
  rmdir(dir.c_str());

  std::memset(&address, 'x', sizeof address);
  EXPECT_FALSE(makeSocketAddress(path + "s", address));
  EXPECT_EQ(address.sun_family, AF_UNIX);
  EXPECT_EQ(std::string(address.sun_path, sizeof address.sun_path), std::string(sizeof address.sun_path, '\0'));
  errno = 0;
  EXPECT_EQ(connectSocketPath(path + "s"), -1);
  EXPECT_EQ(errno, ENAMETOOLONG);
}
