// korctl: drives terminal sessions kept running in the background by `kor --ctl`.
#include <cstdio>
#include <exception>

#include "ctl/Dispatch.h"

int main(int argc, char** argv) {
  // Errors a routine does not handle itself (no home directory, an uncreatable control
  // directory) end the process with a message, never with an uncaught-exception abort.
  try {
    return kor::dispatch(argc, argv);
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "korctl: %s\n", error.what());
    return 1;
  }
}
