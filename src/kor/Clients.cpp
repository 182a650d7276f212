#include "kor/Clients.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/FdIo.h"

namespace kor {

void wipe(std::string& secret) {
  volatile char* bytes = secret.empty() ? nullptr : &secret[0];
  for (size_t i = 0; i < secret.size(); ++i) bytes[i] = 0;
  secret.clear();
}

void acceptClients(int listenFd, std::list<Client>& clients) {
  for (int i = 0; i < 64; ++i) {
    int fd = accept(listenFd, nullptr, nullptr);
    if (fd < 0) return;
    setNonBlockingAndCloseOnExec(fd);
    Client client;
    client.fd = fd;
    client.lastProgress = Clock::now();
    clients.push_back(std::move(client));
  }
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

void queueReply(Client& client, uint8_t type, std::string payload) {
  client.replyHeader = encodeFrameHeader(type, static_cast<uint32_t>(payload.size()));
  client.replyPayload = std::move(payload);  // large replies are never copied again
  client.sent = 0;
  client.answered = true;
}

void queueError(Client& client, const std::string& text) { queueReply(client, kErrorReply, text); }

namespace {
size_t replySize(const Client& client) { return client.replyHeader.size() + client.replyPayload.size(); }
}  // namespace

bool replyPending(const Client& client) { return client.sent < replySize(client); }

bool writeClient(Client& client) {
  while (replyPending(client)) {
    size_t headerSize = client.replyHeader.size();
    const char* from = client.sent < headerSize ? client.replyHeader.data() + client.sent
                                                : client.replyPayload.data() + (client.sent - headerSize);
    size_t count = client.sent < headerSize ? headerSize - client.sent : replySize(client) - client.sent;
    ssize_t put = send(client.fd, from, count, MSG_NOSIGNAL);
    if (put < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    client.sent += static_cast<size_t>(put);
    client.lastProgress = Clock::now();
  }
  // The reply is out; keep the connection only while an oversized payload is still arriving.
  return client.reader.discard > 0;
}

Clock::time_point clientDeadline(const Client& client) { return client.lastProgress + kClientTimeout; }

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
