#pragma once
#include <cstddef>

namespace kor {

// Exact-length reads and writes on a control socket; both raise std::runtime_error on failure.
class RawSocketUtils {
 public:
  static void writeAll(int fd, const char* buffer, size_t length);
  // What writeAll does when a write fails with error (0: the socket took no bytes).
  [[noreturn]] static void writeFailed(int error);
  static void readAll(int fd, char* buffer, size_t length);
  // Reads what has arrived, at least one byte and at most length; raises like readAll.
  static size_t readSome(int fd, char* buffer, size_t length);
};

}  // namespace kor
