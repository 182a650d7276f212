#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int collectGarbage(int, char**) {
  std::fprintf(stderr, "korctl gc: not available yet\n");
  return 1;
}

}  // namespace kor
