// kor: the session daemon of korctl (control mode only). Parses the command line, starts the
// session in the background and returns the foreground's exit status.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include "kor/KorOptions.h"
#include "kor/StartUp.h"

int main(int argc, char** argv) {
  kor::KorOptions options;
  try {
    options = kor::parseKorArgs(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kor: %s\n", error.what());
    return 2;
  }
  if (options.help) {
    std::fputs(kor::korHelpText().c_str(), stdout);
    return 0;
  }
  try {
    return kor::startSession(options);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "kor: %s\n", error.what());
    return 1;
  }
}
