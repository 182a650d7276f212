#include <cstdio>

#include "ctl/Commands.h"

namespace kor {

int writeInput(const std::string&, const std::string*) {
  std::fprintf(stderr, "korctl write: not available yet\n");
  return 1;
}

int writeLine(const std::string&, const std::string&, bool) {
  std::fprintf(stderr, "korctl writeln: not available yet\n");
  return 1;
}

int sendKeys(const std::string&, const std::vector<std::string>&) {
  std::fprintf(stderr, "korctl key: not available yet\n");
  return 1;
}

}  // namespace kor
