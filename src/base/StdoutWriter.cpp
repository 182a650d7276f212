#include "base/StdoutWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <unistd.h>

#include "base/FdIo.h"

namespace kor {

bool writeStdout(const char* data, size_t length) {
  // Whatever stdio holds goes first, so the result lands after it; the result itself is
  // written straight to the descriptor, in one piece, without a copy into stdio's buffer.
  errno = 0;
  if (std::fflush(stdout) == 0 && writeFully(STDOUT_FILENO, data, length)) return true;
  int error = errno ? errno : EIO;
  std::clearerr(stdout);
  std::fprintf(stderr, "korctl: cannot write standard output: %s\n", std::strerror(error));
  return false;
}

}  // namespace kor
