#include "base/ControlClient.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "base/FdIo.h"
#include "base/Paths.h"
#include "base/PeerCredentials.h"
#include "base/RawSocketUtils.h"
#include "base/SocketAddress.h"

namespace kor {

namespace {
constexpr uid_t kUnknownPeer = static_cast<uid_t>(-1);
}  // namespace

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

ControlConnection openControl(const Endpoint& endpoint) {
  ControlConnection connection;
  connection.path = endpoint.path;
  int fd = connectSocketPath(connection.path);
  if (fd < 0) {
    connection.error = errno;
    return connection;
  }
  uid_t uid = kUnknownPeer;
  if (!peerUid(fd, uid) || uid != geteuid()) {
    close(fd);
    connection.foreign = true;
    connection.peerUid = uid;
    connection.error = EPERM;
    return connection;
  }
  connection.fd = fd;
  return connection;
}

std::string foreignDaemonText(const ControlConnection& connection) {
  if (connection.peerUid == kUnknownPeer) return "cannot tell which user runs the daemon at " + connection.path;
  return "the daemon at " + connection.path + " runs as uid " + std::to_string(connection.peerUid) +
         ", not as uid " + std::to_string(geteuid());
}

bool acceptsConnections(const Endpoint& endpoint) {
  ControlConnection connection = openControl(endpoint);
  if (connection.fd < 0) {
    errno = connection.error;
    return false;
  }
  close(connection.fd);
  return true;
}

namespace {

// Reads one reply header; false when no whole header arrived.
bool readReplyHeader(int fd, FrameHeader& frame) {
  char header[kFrameHeaderSize];
  try {
    RawSocketUtils::readAll(fd, header, sizeof header);
  } catch (const std::runtime_error&) {
    return false;
  }
  frame = decodeFrameHeader(header);
  if (frame.length > kMaxReplyLength) {
    throw std::runtime_error("reply of " + std::to_string(frame.length) + " bytes exceeds the limit of " +
                             std::to_string(kMaxReplyLength) + " bytes");
  }
  return true;
}

// Hands the payload to sink piece by piece as it arrives, through one fixed buffer, so a bogus
// length costs nothing until the bytes are really there; false when the sink stopped it.
bool readPayload(int fd, uint32_t length, const PayloadSink& sink) {
  static char buffer[128 * 1024];
  for (size_t remaining = length; remaining > 0;) {
    size_t got = RawSocketUtils::readSome(fd, buffer, std::min(remaining, sizeof buffer));
    remaining -= got;
    if (!sink(buffer, got)) return false;
  }
  return true;
}

PayloadSink appendTo(std::string& out) {
  out.clear();
  return [&out](const char* data, size_t length) {
    out.append(data, length);
    return true;
  };
}

}  // namespace

bool readControlReply(int fd, uint8_t& replyType, std::string& replyPayload) {
  FrameHeader frame;
  if (!readReplyHeader(fd, frame)) return false;
  replyType = frame.type;
  readPayload(fd, frame.length, appendTo(replyPayload));
  return true;
}

void reportIoError(const std::string& name, const std::string& error) {
  std::fprintf(stderr, "korctl: io error talking to '%s': %s\n", name.c_str(), error.c_str());
  std::fprintf(stderr, "korctl: no response from '%s'\n", name.c_str());
}

int sendRequest(const Endpoint& endpoint, uint8_t requestType, const std::string& payload, bool quiet) {
  const std::string& name = endpoint.name;
  const ControlConnection connection = openControl(endpoint);
  const int fd = connection.fd;
  if (fd < 0) {
    if (quiet) return -1;
    const int error = connection.error;
    if (connection.foreign) {
      std::fprintf(stderr, "korctl: refusing session '%s': %s\n", name.c_str(), foreignDaemonText(connection).c_str());
      return -1;
    }
    std::string reason = readGoneReason(name);
    if (!reason.empty())
      std::fprintf(stderr, "korctl: session '%s' ended: %s\n", name.c_str(), reason.c_str());
    else
      std::fprintf(stderr, "korctl: cannot reach session '%s' (%s)\n", name.c_str(), std::strerror(error));
    return -1;
  }
  try {
    if (payload.size() > 0xFFFFFFFFull) {
      throw std::runtime_error("request of " + std::to_string(payload.size()) +
                               " bytes does not fit the 32-bit length field");
    }
    std::string header = encodeFrameHeader(requestType, static_cast<uint32_t>(payload.size()));
    if (!writeFully(fd, header.data(), header.size()) || (!payload.empty() && !writeFully(fd, payload.data(), payload.size()))) {
      // A daemon that refuses a request may answer and close before it is all written: its
      // answer is still there to read.
      const int error = errno;
      char first;
      if (recv(fd, &first, 1, MSG_PEEK | MSG_DONTWAIT) != 1) RawSocketUtils::writeFailed(error);
    }
  } catch (const std::exception& error) {
    if (!quiet) reportIoError(name, error.what());
    close(fd);
    return -1;
  }
  return fd;
}

bool receiveReply(const Endpoint& endpoint, int fd, uint8_t& replyType, const PayloadSink& sink, bool quiet,
                  ReplyFailure* failure) {
  const std::string& name = endpoint.name;
  bool received = false;
  bool stopped = false;
  std::string errorText;
  try {
    FrameHeader frame;
    received = readReplyHeader(fd, frame);
    if (received) {
      replyType = frame.type;
      // An error reply's text is read whole, to be shown; any other payload goes to the sink.
      stopped = !readPayload(fd, frame.length, frame.type == kErrorReply ? appendTo(errorText) : sink);
    }
  } catch (const std::exception& error) {
    if (failure) failure->ioError = error.what();
    if (!quiet) reportIoError(name, error.what());
    close(fd);
    return false;
  }
  close(fd);
  if (stopped) return false;
  if (!received) {
    if (!quiet) std::fprintf(stderr, "korctl: no response from '%s'\n", name.c_str());
    return false;
  }
  if (replyType == kErrorReply) {
    if (failure) failure->errorText = errorText;
    if (!quiet) std::fprintf(stderr, "korctl: %s\n", std::string(errorText.c_str()).c_str());
    return false;
  }
  return true;
}

bool streamExchange(const Endpoint& endpoint, uint8_t requestType, const std::string& payload, uint8_t& replyType,
                    const PayloadSink& sink, bool quiet, ReplyFailure* failure) {
  int fd = sendRequest(endpoint, requestType, payload, quiet);
  return fd >= 0 && receiveReply(endpoint, fd, replyType, sink, quiet, failure);
}

bool controlExchange(const Endpoint& endpoint, uint8_t requestType, const std::string& payload,
                     uint8_t& replyType, std::string& replyPayload, bool quiet) {
  ReplyFailure failure;
  bool ok = streamExchange(endpoint, requestType, payload, replyType, appendTo(replyPayload), quiet, &failure);
  if (!ok && replyType == kErrorReply) replyPayload = failure.errorText;
  return ok;
}

}  // namespace kor
