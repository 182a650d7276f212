#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int runRead(const std::string&, long long, bool, bool, double) {
  std::fprintf(stderr, "korctl read: not available yet\n");
  return 1;
}

}  // namespace kor
