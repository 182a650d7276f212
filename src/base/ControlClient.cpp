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

namespace kor {

std::string encodeFrameHeader(uint8_t type, uint32_t length) {
  std::string header(5, '\0');
  header[0] = static_cast<char>(type);
  for (int i = 0; i < 4; ++i) header[1 + i] = static_cast<char>((length >> (24 - 8 * i)) & 0xFF);
  return header;
}

std::string encodeInt64(int64_t value) {
  uint64_t bits = static_cast<uint64_t>(value);
  std::string bytes(8, '\0');
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<char>((bits >> (56 - 8 * i)) & 0xFF);
  return bytes;
}

int64_t decodeInt64(const char* bytes) {
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i) bits = (bits << 8) | static_cast<unsigned char>(bytes[i]);
  return static_cast<int64_t>(bits);
}

uint32_t decodeUint32(const char* bytes) {
  uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

int connectSocketPath(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (path.size() + 1 > sizeof(address.sun_path)) {
    close(fd);
    errno = ENAMETOOLONG;  // so the caller names the real reason
    return -1;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  if (connect(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address) != 0) {
    int error = errno;
    close(fd);
    errno = error;
    return -1;
  }
  return fd;
}

int connectControl(const Endpoint& endpoint) {
  return connectSocketPath(endpoint.path.empty() ? resolveSocketPath(endpoint.name) : endpoint.path);
}

int connectControl(const std::string& name) { return connectControl(endpointOf(name)); }

bool acceptsConnections(const Endpoint& endpoint) {
  int fd = connectControl(endpoint);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool readControlReply(int fd, uint8_t& replyType, std::string& replyPayload) {
  char header[5];
  try {
    RawSocketUtils::readAll(fd, header, sizeof header);
  } catch (const std::runtime_error&) {
    return false;
  }
  replyType = static_cast<uint8_t>(header[0]);
  uint32_t length = decodeUint32(header + 1);
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

bool controlExchange(const std::string& name, uint8_t requestType, const std::string& payload,
                     uint8_t& replyType, std::string& replyPayload, bool quiet) {
  return controlExchange(endpointOf(name), requestType, payload, replyType, replyPayload, quiet);
}

}  // namespace kor
