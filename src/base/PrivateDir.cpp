#include "base/PrivateDir.h"

#include <sys/stat.h>

#include <cerrno>

namespace kor {

int makePrivateDir(const std::string& path) {
  if (mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return 0;
  return errno;
}

}  // namespace kor
