#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "base/Wire.h"
#include "kor/Clients.h"

using namespace kor;

// A reply sent from many pieces through a socket that takes little at a time arrives whole and
// in order, each partial write resumed where it stopped.
TEST(Clients, ReplyFromPiecesSurvivesPartialWrites) {
  int ends[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
  int small = 4096;
  setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  fcntl(ends[0], F_SETFL, O_NONBLOCK);

  ByteChain chain;
  std::string stream;
  for (int i = 0; stream.size() < 3 * kLargestBlock; ++i) stream += std::to_string(i) + ",";
  appendBytes(chain, stream.data(), stream.size());
  ReplyBytes payload;
  payload.head = "cursor-header";
  appendPieces(chain, 0, payload.pieces);
  ASSERT_GT(payload.pieces.size(), 2u);

  Client client;
  client.fd = ends[0];
  queueReply(client, kReadOutput, std::move(payload));
  const std::string expected = encodeFrameHeader(kReadOutput, static_cast<uint32_t>(13 + stream.size())) +
                               "cursor-header" + stream;
  EXPECT_EQ(unsentBytes(client), expected.size());

  std::string received;
  char buffer[3000];
  int passes = 0;
  while (replyPending(client)) {
    ASSERT_TRUE(writeClient(client) || !replyPending(client));
    ssize_t got = read(ends[1], buffer, sizeof buffer);
    if (got > 0) received.append(buffer, static_cast<size_t>(got));
    ++passes;
  }
  EXPECT_GT(passes, 10);
  for (ssize_t got; (got = recv(ends[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0;)
    received.append(buffer, static_cast<size_t>(got));
  EXPECT_EQ(received, expected);
  EXPECT_EQ(client.reply.pieces.size(), 0u);  // the blocks are let go once it is out
  close(ends[0]);
  close(ends[1]);
}
