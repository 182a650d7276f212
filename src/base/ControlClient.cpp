#include "base/ControlClient.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/Paths.h"
#include "base/RawSocketUtils.h"
#include "base/SocketAddress.h"

namespace kor {

int connectSocketPath(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  struct sockaddr_un address;
  if (!makeSocketAddress(path, address)) {
    close(fd);
    errno = ENAMETOOLONG;  // so the caller names the real reason
    return -1;
  }
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

Endpoint resolveEndpoint(const std::string& name) { return Endpoint{name, resolveSocketPath(name)}; }

int connectControl(const Endpoint& endpoint) { return connectSocketPath(endpoint.path); }

bool acceptsConnections(const Endpoint& endpoint) {
  int fd = connectControl(endpoint);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool readControlReply(int fd, uint8_t& replyType, std::string& replyPayload) {
  char header[kFrameHeaderSize];
  try {
    RawSocketUtils::readAll(fd, header, sizeof header);
  } catch (const std::runtime_error&) {
    return false;
  }
  const FrameHeader frame = decodeFrameHeader(header);
  replyType = frame.type;
  const uint32_t length = frame.length;
  if (length > kMaxReplyLength) {
    throw std::runtime_error("reply of " + std::to_string(length) + " bytes exceeds the limit of " +
                             std::to_string(kMaxReplyLength) + " bytes");
  }
  // Grown as bytes arrive, so a bogus length costs nothing until the bytes are really there.
  replyPayload.clear();
  char buffer[65536];
  size_t remaining = length;
  while (remaining > 0) {
    size_t want = std::min(remaining, sizeof buffer);
    RawSocketUtils::readAll(fd, buffer, want);
    replyPayload.append(buffer, want);
    remaining -= want;
  }
  return true;
}

bool controlExchange(const Endpoint& endpoint, uint8_t requestType, const std::string& payload,
                     uint8_t& replyType, std::string& replyPayload, bool quiet) {
  const std::string& name = endpoint.name;
  int fd = connectControl(endpoint);
  if (fd < 0) {
    if (quiet) return false;
    int error = errno;
    std::string reason = readGoneReason(name);
    if (!reason.empty())
      std::fprintf(stderr, "korctl: session '%s' ended: %s\n", name.c_str(), reason.c_str());
    else
      std::fprintf(stderr, "korctl: cannot reach session '%s' (%s)\n", name.c_str(), std::strerror(error));
    return false;
  }
  bool received = false;
  bool failed = false;
  try {
    if (payload.size() > 0xFFFFFFFFull) {
      throw std::runtime_error("request of " + std::to_string(payload.size()) +
                               " bytes does not fit the 32-bit length field");
    }
    std::string header = encodeFrameHeader(requestType, static_cast<uint32_t>(payload.size()));
    RawSocketUtils::writeAll(fd, header.data(), header.size());
    if (!payload.empty()) RawSocketUtils::writeAll(fd, payload.data(), payload.size());
    received = readControlReply(fd, replyType, replyPayload);
  } catch (const std::exception& error) {
    failed = true;
    if (!quiet) std::fprintf(stderr, "korctl: io error talking to '%s': %s\n", name.c_str(), error.what());
  }
  close(fd);
  if (failed || !received) {
    if (!quiet) std::fprintf(stderr, "korctl: no response from '%s'\n", name.c_str());
    return false;
  }
  if (replyType == kErrorReply) {
    if (!quiet) std::fprintf(stderr, "korctl: %s\n", std::string(replyPayload.c_str()).c_str());
    return false;
  }
  return true;
}

}  // namespace kor
