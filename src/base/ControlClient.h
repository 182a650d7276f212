#pragma once
#include <cstdint>
#include <string>

namespace kor {

// Request types of the control protocol; any reply type but kErrorReply is success.
enum RequestType : uint8_t {
  kInput = 1,
  kResize = 2,
  kReadOutput = 3,
  kStatus = 4,
  kKill = 5,
  kSniff = 6,
  kHiddenInput = 7,
};
constexpr uint8_t kErrorReply = 0x41;
// Replies claiming more than this are refused before anything is allocated.
constexpr uint32_t kMaxReplyLength = 256u * 1024 * 1024;

// A session as addressed: the name shown in messages and the socket to connect to.
// An empty path means "resolve the name when connecting" (an existing socket file, else
// the session's control socket).
struct Endpoint {
  std::string name;
  std::string path;
};
inline Endpoint endpointOf(const std::string& name) { return Endpoint{name, ""}; }

// The bare connection, used as a liveness probe; -1 with errno set on failure.
int connectControl(const std::string& name);
int connectControl(const Endpoint& endpoint);
int connectSocketPath(const std::string& path);
// Whether the session's socket accepts a connection (closed again at once, nothing sent);
// when not, errno says why.
bool acceptsConnections(const Endpoint& endpoint);

// One request/reply exchange on a fresh connection. Prints its own failure messages unless
// quiet; true only for a reply that is not an error reply.
bool controlExchange(const std::string& name, uint8_t requestType, const std::string& payload,
                     uint8_t& replyType, std::string& replyPayload, bool quiet);
bool controlExchange(const Endpoint& endpoint, uint8_t requestType, const std::string& payload,
                     uint8_t& replyType, std::string& replyPayload, bool quiet);

// Reads one reply frame: false when no whole header arrived; raises when the payload fails.
bool readControlReply(int fd, uint8_t& replyType, std::string& replyPayload);

// Frame helpers (pure).
std::string encodeFrameHeader(uint8_t type, uint32_t length);
std::string encodeInt64(int64_t value);  // big-endian two's complement
int64_t decodeInt64(const char* bytes);
uint32_t decodeUint32(const char* bytes);

}  // namespace kor
