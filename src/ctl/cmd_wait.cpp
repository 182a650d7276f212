#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int waitQuiet(const std::string&, double, double) {
  std::fprintf(stderr, "korctl wait: not available yet\n");
  return 1;
}

}  // namespace kor
