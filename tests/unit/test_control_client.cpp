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

// Sends 8 MiB of input to a peer that handles the connection with peer and closes it; the
// exchange must fail, and what it printed is returned.
std::string failedLargeInput(void (*peer)(int connection)) {
  Listener listener;
  std::thread daemon([&] {
    int connection = accept(listener.fd, nullptr, nullptr);
    peer(connection);
    close(connection);
  });
  testing::internal::CaptureStderr();
  uint8_t type = 0;
  std::string reply;
  bool ok = controlExchange(Endpoint{"s", listener.path}, kInput, std::string(8 << 20, 'a'), type, reply, false);
  std::string err = testing::internal::GetCapturedStderr();
  daemon.join();
  EXPECT_FALSE(ok);
  return err;
}

// A daemon that refuses a request answers and closes before reading it; its answer, not a
// write error, is what the user sees.
TEST(ControlClient, AnswerBeforeTheRequestIsWrittenIsTheReply) {
  std::string err = failedLargeInput([](int connection) {
    const char refusal[] = "\x41\0\0\0\4" "busy";
    (void)!write(connection, refusal, sizeof refusal - 1);
  });
  EXPECT_EQ(err, "korctl: busy\n");
}

// A peer that closes without reading a large request: the write fails with a diagnostic record
// and the io-error and no-response lines, instead of the process dying of SIGPIPE.
TEST(ControlClient, BrokenPipeIsAnIoError) {
  std::string err = failedLargeInput([](int connection) {
    char header[5];
    (void)!read(connection, header, sizeof header);
  });
  EXPECT_NE(err.find("Stack Trace: \n[0] "), std::string::npos) << err;
  EXPECT_NE(err.find("Cannot write to raw socket: "), std::string::npos) << err;
  EXPECT_NE(err.find("korctl: io error talking to 's': Cannot write to raw socket\n"
                     "korctl: no response from 's'\n"),
            std::string::npos)
      << err;
}

namespace {

// Serves one connection: reads the request frame, then sends `reply` and closes.
std::thread serveOnce(Listener& listener, std::string reply) {
  return std::thread([&listener, reply] {
    int conn = accept(listener.fd, nullptr, nullptr);
    char request[13];  // all of it: unread bytes would make the close a reset
    for (size_t got = 0; got < sizeof request;) {
      ssize_t n = read(conn, request + got, sizeof request - got);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    (void)!send(conn, reply.data(), reply.size(), MSG_NOSIGNAL);  // the client may stop reading
    close(conn);
  });
}

struct Streamed {
  bool ok = false;
  std::string bytes;
  size_t pieces = 0;
  ReplyFailure failure;
  std::string err;
};

Streamed stream(Listener& listener, const std::string& reply, size_t stopAfter = 0) {
  std::thread peer = serveOnce(listener, reply);
  Streamed got;
  testing::internal::CaptureStderr();
  uint8_t type = 0;
  got.ok = streamExchange(
      Endpoint{"s", listener.path}, kReadOutput, "12345678", type,
      [&](const char* data, size_t length) {
        got.bytes.append(data, length);
        ++got.pieces;
        return stopAfter == 0 || got.bytes.size() < stopAfter;
      },
      false, &got.failure);
  got.err = testing::internal::GetCapturedStderr();
  peer.join();
  return got;
}

}  // namespace

// A payload larger than the receive buffer reaches the sink whole, in pieces; an error reply
// is reported, never handed to the sink; a reply cut short leaves what came in the sink and
// reports the I/O error; a sink that stops ends the exchange without a message.
TEST(ControlClient, StreamedReplies) {
  Listener listener;
  const std::string big(1 << 20, 'z');
  Streamed whole = stream(listener, encodeFrameHeader(9, big.size()) + big);
  EXPECT_TRUE(whole.ok);
  EXPECT_EQ(whole.bytes, big);
  EXPECT_GT(whole.pieces, 1u);
  EXPECT_EQ(whole.err, "");

  Streamed error = stream(listener, encodeFrameHeader(kErrorReply, 4) + "bad!");
  EXPECT_FALSE(error.ok);
  EXPECT_EQ(error.bytes, "");
  EXPECT_EQ(error.failure.errorText, "bad!");
  EXPECT_EQ(error.err, "korctl: bad!\n");

  Streamed cut = stream(listener, encodeFrameHeader(9, 100) + "only part");
  EXPECT_FALSE(cut.ok);
  EXPECT_EQ(cut.bytes, "only part");
  EXPECT_EQ(cut.failure.ioError, "Socket has closed abruptly.");
  EXPECT_EQ(cut.err, "korctl: io error talking to 's': Socket has closed abruptly.\nkorctl: no response from 's'\n");

  Streamed stopped = stream(listener, encodeFrameHeader(9, big.size()) + big, 1);
  EXPECT_FALSE(stopped.ok);
  EXPECT_EQ(stopped.err, "");
  EXPECT_LT(stopped.bytes.size(), big.size());
}
