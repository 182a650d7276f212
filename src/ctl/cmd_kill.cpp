#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int killSession(const std::string&, double) {
  std::fprintf(stderr, "korctl kill: not available yet\n");
  return 1;
}

}  // namespace kor
