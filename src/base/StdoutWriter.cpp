#include "base/StdoutWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kor {

bool writeStdout(const char* data, size_t length) {
  size_t done = 0;
  errno = 0;
  while (done < length) {
    size_t n = std::fwrite(data + done, 1, length - done, stdout);
    if (n == 0) {
      if (errno == EINTR) {
        std::clearerr(stdout);
        continue;
      }
      break;
    }
    done += n;
  }
  if (done == length && std::fflush(stdout) == 0) return true;
  int error = errno ? errno : EIO;
  std::clearerr(stdout);
  std::fprintf(stderr, "korctl: cannot write standard output: %s\n", std::strerror(error));
  return false;
}

}  // namespace kor
