#pragma once
// The daemon's side of a control connection: reading one request through the request
// reader, queueing and sending its reply, and dropping the connection with its secrets
// wiped. Each connection carries one request and one reply.
#include <chrono>
#include <cstdint>
#include <list>
#include <string>

#include "kor/RequestReader.h"

namespace kor {

using Clock = std::chrono::steady_clock;

// A client that makes no progress for this long is dropped.
constexpr auto kClientTimeout = std::chrono::seconds(10);

struct Client {
  int fd = -1;
  RequestReader reader;
  bool answered = false;  // a reply is queued (it may still be going out)
  std::string replyHeader;  // the reply frame's header, then its payload, sent in that order
  std::string replyPayload;
  size_t sent = 0;          // bytes of header and payload sent
  Clock::time_point lastProgress;
};

// Overwrites a secret before its memory is given back.
void wipe(std::string& secret);

// Accepts waiting connections (a bounded number per call) onto the list.
void acceptClients(int listenFd, std::list<Client>& clients);

enum class ClientRead {
  Keep,     // waiting for more, or a rejection has been queued as the reply
  Request,  // the request is complete: the caller serves it
  Drop,     // closed or broken
};
// Reads what the client sent, as far as the descriptor has it.
ClientRead readClient(Client& client, const RequestLimits& limits);

// Whether the client still sends bytes the daemon reads: its request, or the payload of a
// rejected one being skipped.
bool wantsRead(const Client& client);

void queueReply(Client& client, uint8_t type, std::string payload);
void queueError(Client& client, const std::string& text);
bool replyPending(const Client& client);
// Sends what is pending; false when the client is done with.
bool writeClient(Client& client);

// When the client is dropped unless it makes progress first.
Clock::time_point clientDeadline(const Client& client);

// Wipes a secret the client carried and closes it.
void dropClient(Client& client);
// Gives replies already answered a last short chance to go out before the daemon stops.
void flushReplies(std::list<Client>& clients);
void dropClients(std::list<Client>& clients);

}  // namespace kor
