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

// A whole request (and the payload of a refused one) must be in this soon after the
// connection was accepted; trickling bytes does not buy more time.
constexpr auto kRequestTime = std::chrono::seconds(10);
// A client that takes none of its reply for this long is dropped.
constexpr auto kClientTimeout = std::chrono::seconds(10);

// The longest a waiting read waits; a client asking longer is answered after this.
constexpr auto kMaxReadWait = std::chrono::seconds(60);
// At most this many connections are served at once (fewer when the descriptor limit is
// lower); the ones beyond get an error reply and are closed at once.
constexpr size_t kMaxClients = 256;
// Replies not yet taken by their clients hold at most this many bytes together, or two full
// output windows when the window is larger; a reply beyond is replaced by an error reply.
constexpr size_t kMaxHeldReplyBytes = 256u * 1024 * 1024;

struct Client {
  int fd = -1;
  RequestReader reader;
  bool answered = false;  // a reply is queued (it may still be going out)
  ReplyBytes reply;       // the whole reply frame, header first
  size_t sent = 0;        // bytes of it sent
  Clock::time_point lastProgress;  // its reply was queued, or it last took some of it
  // A waiting read parked until its read has something to say, or until this time.
  WaitRead waiting;
  Clock::time_point waitingUntil = Clock::time_point::max();
  Clock::time_point requestBy;  // the request must be in by then
};

// Overwrites a secret before its memory is given back.
void wipe(std::string& secret);

// How many clients the daemon serves at once, given its descriptor limit.
size_t clientLimit();
// Accepts waiting connections (a bounded number per call) onto the list; connections of
// other users are closed, and those beyond maxClients are refused with an error reply.
// False when the process is out of descriptors (the caller waits before accepting again).
bool acceptClients(int listenFd, std::list<Client>& clients, size_t maxClients);

// Answers every connection still waiting to be accepted with an error reply and closes it.
void refuseWaiting(int listenFd, const std::string& text);

// Input bytes promised by requests still arriving: they count against the queued-input
// limit from the moment their header is in.
size_t inputInFlight(const std::list<Client>& clients);
// Reply bytes queued and not yet sent, over all clients.
size_t heldReplyBytes(const std::list<Client>& clients);

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

// When the client is dropped: for a parked waiting read, when its wait is over; else its
// request deadline while it still sends, or when it has taken none of its reply for too long.
Clock::time_point clientDeadline(const Client& client);

// Wipes a secret the client carried and closes it.
void dropClient(Client& client);
// Gives replies already answered a last short chance to go out before the daemon stops.
void flushReplies(std::list<Client>& clients);
void dropClients(std::list<Client>& clients);

}  // namespace kor
