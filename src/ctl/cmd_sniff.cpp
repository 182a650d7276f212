#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int sniffExchange(const std::string&, bool, long long, bool) {
  std::fprintf(stderr, "korctl sniff: not available yet\n");
  return 1;
}

}  // namespace kor
