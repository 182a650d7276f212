#pragma once
#include <cstdint>
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

// The bare connection, used as a liveness probe; -1 with errno set on failure.
int connectControl(const Endpoint& endpoint);
int connectSocketPath(const std::string& path);
// Whether the session's socket accepts a connection (closed again at once, nothing sent);
// when not, errno says why.
bool acceptsConnections(const Endpoint& endpoint);

// One request/reply exchange on a fresh connection. Prints its own failure messages unless
// quiet; true only for a reply that is not an error reply.
bool controlExchange(const Endpoint& endpoint, uint8_t requestType, const std::string& payload,
                     uint8_t& replyType, std::string& replyPayload, bool quiet);

// Reads one reply frame: false when no whole header arrived; raises when the payload fails.
bool readControlReply(int fd, uint8_t& replyType, std::string& replyPayload);

}  // namespace kor
