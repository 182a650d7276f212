#pragma once
#include <cstdint>
#include <string>

#include "base/Logging.h"
#include "base/StackTrace.h"

namespace kor {

// Waits until fd is readable (or has hung up) or the time has passed.
bool waitOnSocketData(int fd, int64_t seconds, int64_t microseconds);

// Serializes a protobuf message; a failure is a fatal internal error.
template <typename T>
std::string protoToString(const T& message) {
  std::string bytes;
  if (!message.SerializeToString(&bytes)) {
    LOG(FATAL) << "Stack Trace: \n" << symbolizedStackTrace() << "Error serializing proto to string";
  }
  return bytes;
}

}  // namespace kor
