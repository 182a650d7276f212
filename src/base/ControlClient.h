#pragma once
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "base/Wire.h"

namespace kor {

// A session as addressed: the name shown in messages and the socket to connect to.
struct Endpoint {
  std::string name;
  std::string path;
};
// NAME as typed, resolved once: an existing socket file is used as is, anything else is a
// session name (raises when there is no home directory to find its socket in).
Endpoint resolveEndpoint(const std::string& name);

// What connecting to a session's socket found. Only a daemon that runs as this user is
// talked to: another user's listener at the path (a shared directory, a planted socket) is
// refused before a single byte is sent.
struct ControlConnection {
  int fd = -1;           // connected to a daemon of this user, or -1
  int error = 0;         // why not (errno of the failed step; EPERM for another user's daemon)
  bool foreign = false;  // a daemon of another user answered
  uid_t peerUid = 0;     // that user
  std::string path;      // the socket path connected to
};
ControlConnection openControl(const Endpoint& endpoint);
// "the daemon at PATH runs as uid N, not as uid M" for a foreign connection.
std::string foreignDaemonText(const ControlConnection& connection);

// The bare connection to a socket path, with no check of who listens.
int connectSocketPath(const std::string& path);
// Whether a daemon of this user accepts connections on the session's socket (closed again at
// once, nothing sent); when not, errno says why.
bool acceptsConnections(const Endpoint& endpoint);

// One request/reply exchange on a fresh connection. Prints its own failure messages unless
// quiet; true only for a reply that is not an error reply.
bool controlExchange(const Endpoint& endpoint, uint8_t requestType, const std::string& payload,
                     uint8_t& replyType, std::string& replyPayload, bool quiet);

// Reads one reply frame: false when no whole header arrived; raises when the payload fails.
bool readControlReply(int fd, uint8_t& replyType, std::string& replyPayload);

// Takes the payload of a success reply piece by piece as it arrives; returning false stops the
// exchange without a message (the receiver has said why).
using PayloadSink = std::function<bool(const char* data, size_t length)>;
// What went wrong with a reply, for callers that report it themselves.
struct ReplyFailure {
  std::string ioError;    // the text of an I/O error, "" for none
  std::string errorText;  // the text of an error reply
};
// One exchange whose reply payload streams into sink (an error reply is read whole and
// reported as usual). Prints its failure messages unless quiet.
bool streamExchange(const Endpoint& endpoint, uint8_t requestType, const std::string& payload, uint8_t& replyType,
                    const PayloadSink& sink, bool quiet, ReplyFailure* failure = nullptr);
// The two halves of an exchange, for callers that wait on something else meanwhile: connect
// and send the request (the descriptor, or -1 after the messages), then read the reply into
// sink and close.
int sendRequest(const Endpoint& endpoint, uint8_t requestType, const std::string& payload, bool quiet);
bool receiveReply(const Endpoint& endpoint, int fd, uint8_t& replyType, const PayloadSink& sink, bool quiet,
                  ReplyFailure* failure = nullptr);
// The two lines of a failed exchange's I/O.
void reportIoError(const std::string& name, const std::string& error);

}  // namespace kor
