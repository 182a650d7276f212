#pragma once
// The daemon's side of a control connection: reading one request through the request
// reader, queueing and sending its reply, and dropping the connection with its secrets
// wiped. Each connection carries one request and one reply.
#include <chrono>
#include <cstdint>
#include <list>
#include <string>

#include "kor/ByteChain.h"
#include "kor/RequestReader.h"

namespace kor {

using Clock = std::chrono::steady_clock;

// A client that makes no progress for this long is dropped.
constexpr auto kClientTimeout = std::chrono::seconds(10);

// The longest a waiting read waits; a client asking longer is answered after this.
constexpr auto kMaxReadWait = std::chrono::seconds(60);

struct Client {
  int fd = -1;
  RequestReader reader;
  bool answered = false;  // a reply is queued (it may still be going out)
  ReplyBytes reply;       // the whole reply frame, header first
  size_t sent = 0;        // bytes of it sent
  Clock::time_point lastProgress;
  // A waiting read parked until its read has something to say, or until this time.
  WaitRead waiting;
  Clock::time_point waitingUntil = Clock::time_point::max();
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
// A reply whose payload is the bytes of `payload` (its head, then its pieces), sent from where
// they are.
void queueReply(Client& client, uint8_t type, ReplyBytes payload);
void queueError(Client& client, const std::string& text);
bool replyPending(const Client& client);
// Bytes of the queued reply not sent yet.
size_t unsentBytes(const Client& client);

void park(Client& client, const WaitRead& request);
bool isParked(const Client& client);
void unpark(Client& client);
// Sends what is pending; false when the client is done with.
bool writeClient(Client& client);

// When the client is dropped unless it makes progress first; for a parked waiting read, when
// its wait is over.
Clock::time_point clientDeadline(const Client& client);

// Wipes a secret the client carried and closes it.
void dropClient(Client& client);
// Gives replies already answered a last short chance to go out before the daemon stops.
void flushReplies(std::list<Client>& clients);
void dropClients(std::list<Client>& clients);

}  // namespace kor
