#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int resizeSession(const std::string&, int, int) {
  std::fprintf(stderr, "korctl resize: not available yet\n");
  return 1;
}

int attachSession(const std::string&, bool observe, long long, bool) {
  std::fprintf(stderr, "korctl %s: not available yet\n", observe ? "observe" : "attach");
  return 1;
}

}  // namespace kor
