#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int runCommand(const std::string&, const std::string&, int, double) {
  std::fprintf(stderr, "korctl run: not available yet\n");
  return 1;
}

}  // namespace kor
