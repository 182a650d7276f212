#include "kor/Clients.h"

#include <errno.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/FdIo.h"
#include "base/PeerCredentials.h"

namespace kor {

void wipe(std::string& secret) {
  volatile char* bytes = secret.empty() ? nullptr : &secret[0];
  for (size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
  secret.clear();
}

size_t clientLimit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kMaxClients;
  // Room for the daemon's own descriptors and the one a refused connection needs.
  const rlim_t reserve = 16;
  if (limit.rlim_cur <= reserve + 1) return 1;
  return std::min<size_t>(kMaxClients, static_cast<size_t>(limit.rlim_cur - reserve));
}

namespace {

// A connection the daemon will not serve still learns why: the client reads this reply even
// when its request no longer gets through.
void refuse(int fd, const std::string& text) {
  std::string frame = encodeFrameHeader(kErrorReply, static_cast<uint32_t>(text.size())) + text;
  (void)!send(fd, frame.data(), frame.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  close(fd);
}

constexpr int kSkipped = -2;

// The next waiting connection of our own user; kSkipped when the one taken was not to be served
// (interrupted, aborted, or another user's: closed, since only our own user talks to this
// session); -1 when accept failed otherwise, errno saying why.
int acceptOwnConnection(int listenFd) {
  int fd = accept(listenFd, nullptr, nullptr);
  if (fd < 0) return errno == EINTR || errno == ECONNABORTED ? kSkipped : -1;
  uid_t uid = 0;
  if (!peerUid(fd, uid) || uid != geteuid()) {
    close(fd);
    return kSkipped;
  }
  return fd;
}

}  // namespace

bool acceptClients(int listenFd, std::list<Client>& clients, size_t maxClients) {
  for (int i = 0; i < 64; ++i) {
    int fd = acceptOwnConnection(listenFd);
    if (fd == kSkipped) continue;
    if (fd < 0) return !(errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM);
    if (clients.size() >= maxClients) {
      refuse(fd, "too many connections to this session (" + std::to_string(clients.size()) + "); try again");
      continue;
    }
    setNonBlockingAndCloseOnExec(fd);
    Client client;
    client.fd = fd;
    client.lastProgress = Clock::now();
    client.requestBy = client.lastProgress + kRequestTime;
    clients.push_back(std::move(client));
  }
  return true;
}

void refuseWaiting(int listenFd, const std::string& text) {
  for (;;) {
    int fd = acceptOwnConnection(listenFd);
    if (fd == -1) return;
    if (fd >= 0) refuse(fd, text);
  }
}

size_t inputInFlight(const std::list<Client>& clients) {
  size_t promised = 0;
  for (const Client& client : clients) {
    const RequestReader& reader = client.reader;
    if (reader.state == ReadState::NeedMore && reader.headerGot == kFrameHeaderSize &&
        (reader.type == kInput || reader.type == kHiddenInput))
      promised += reader.length;
  }
  return promised;
}

size_t heldReplyBytes(const std::list<Client>& clients) {
  size_t held = 0;
  for (const Client& client : clients)
    if (client.answered) held += unsentBytes(client);
  return held;
}

bool wantsRead(const Client& client) { return !client.answered || client.reader.discard > 0; }

namespace {

ClientRead readSome(Client& client, const RequestLimits& limits, char* buffer, size_t size) {
  for (;;) {
    // Once a skipped payload is all in, whatever else comes is read and dropped.
    uint64_t wanted = bytesWanted(client.reader);
    size_t want = wanted == 0 ? size : static_cast<size_t>(std::min<uint64_t>(wanted, size));
    ssize_t got = read(client.fd, buffer, want);
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? ClientRead::Keep : ClientRead::Drop;
    }
    if (got == 0) return client.answered && replyPending(client) ? ClientRead::Keep : ClientRead::Drop;
    client.lastProgress = Clock::now();
    ReadState before = client.reader.state;
    ReadState state = feedRequest(client.reader, buffer, static_cast<size_t>(got), limits);
    if (state == before) continue;
    if (state == ReadState::Complete) return ClientRead::Request;
    queueError(client, client.reader.rejection);
    return ClientRead::Keep;
  }
}

}  // namespace

ClientRead readClient(Client& client, const RequestLimits& limits) {
  char buffer[65536];
  ClientRead result = readSome(client, limits, buffer, sizeof buffer);
  if (client.reader.type == kHiddenInput) std::memset(buffer, 0, sizeof buffer);
  return result;
}

void queueReply(Client& client, uint8_t type, ReplyBytes payload) {
  const size_t length = replySize(payload);
  client.reply = std::move(payload);  // large payloads are never copied
  client.reply.head.insert(0, encodeFrameHeader(type, static_cast<uint32_t>(length)));
  client.sent = 0;
  client.answered = true;
  client.lastProgress = Clock::now();
}

void queueReply(Client& client, uint8_t type, std::string payload) {
  ReplyBytes bytes;
  bytes.head = std::move(payload);
  queueReply(client, type, std::move(bytes));
}

void queueError(Client& client, const std::string& text) { queueReply(client, kErrorReply, text); }

size_t unsentBytes(const Client& client) { return replySize(client.reply) - client.sent; }

bool replyPending(const Client& client) { return client.answered && unsentBytes(client) > 0; }

namespace {

// The unsent rest of the reply as a list of buffers for one sendmsg.
size_t unsentBuffers(const Client& client, struct iovec* buffers, size_t most) {
  size_t count = 0;
  size_t skip = client.sent;
  auto add = [&](const char* data, size_t length) {
    if (count == most) return;
    if (skip >= length) {
      skip -= length;
      return;
    }
    buffers[count].iov_base = const_cast<char*>(data + skip);
    buffers[count].iov_len = length - skip;
    skip = 0;
    ++count;
  };
  add(client.reply.head.data(), client.reply.head.size());
  for (const BytePiece& piece : client.reply.pieces) add(piece.data, piece.length);
  return count;
}

}  // namespace

bool writeClient(Client& client) {
  while (replyPending(client)) {
    struct iovec buffers[64];
    struct msghdr message;
    std::memset(&message, 0, sizeof message);
    message.msg_iov = buffers;
    message.msg_iovlen = unsentBuffers(client, buffers, sizeof buffers / sizeof buffers[0]);
    ssize_t put = sendmsg(client.fd, &message, MSG_NOSIGNAL);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    client.sent += static_cast<size_t>(put);
    client.lastProgress = Clock::now();
  }
  client.reply = ReplyBytes{};  // the blocks it held may go now
  client.sent = 0;
  // The reply is out; keep the connection only while an oversized payload is still arriving.
  return client.reader.discard > 0;
}

void park(Client& client, const WaitRead& request) {
  client.waiting = request;
  const auto wait = std::min<Clock::duration>(std::chrono::milliseconds(request.waitMs), kMaxReadWait);
  client.waitingUntil = Clock::now() + wait;
}

bool isParked(const Client& client) { return client.waitingUntil != Clock::time_point::max(); }

void unpark(Client& client) {
  client.waitingUntil = Clock::time_point::max();
  client.lastProgress = Clock::now();  // its reply gets the usual time to go out
}

Clock::time_point clientDeadline(const Client& client) {
  if (isParked(client)) return client.waitingUntil;
  return wantsRead(client) ? client.requestBy : client.lastProgress + kClientTimeout;
}

void dropClient(Client& client) {
  if (client.reader.type == kHiddenInput) wipe(client.reader.payload);
  close(client.fd);
  client.fd = -1;
}

void flushReplies(std::list<Client>& clients) {
  auto deadline = Clock::now() + std::chrono::milliseconds(500);
  for (Client& client : clients) {
    while (client.answered && replyPending(client) && Clock::now() < deadline) {
      if (!writeClient(client) && replyPending(client)) break;
      if (replyPending(client)) {
        struct pollfd pfd = {client.fd, POLLOUT, 0};
        poll(&pfd, 1, 10);
      }
    }
  }
}

void dropClients(std::list<Client>& clients) {
  for (Client& client : clients) dropClient(client);
  clients.clear();
}

}  // namespace kor
