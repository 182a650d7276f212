#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int printSessionTable() {
  std::fprintf(stderr, "korctl sessions: not available yet\n");
  return 1;
}

}  // namespace kor
