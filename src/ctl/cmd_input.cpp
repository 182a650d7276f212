#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "ctl/Commands.h"
#include "ctl/Input.h"

namespace kor {

int writeInput(const std::string& name, const std::string* text) {
  if (text) return sendInput(name, *text, false);
  std::string bytes;
  try {
    bytes = readStdin();
  } catch (const std::runtime_error& e) {
    std::fprintf(stderr, "korctl write: cannot read standard input: %s\n", e.what());
    return 1;
  }
  return sendInput(name, bytes, false);
}

namespace {

bool haveTerminal() {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  return isatty(0) == 1;
}

}  // namespace

int writeLine(const std::string& name, const std::string& text, bool secret) {
  if (!secret) return sendInput(name, text + "\n", false);
  // Without a terminal getpass has nothing to read a hidden line from (some C libraries then
  // hand back an empty line as if one had been typed): refuse instead of sending it.
  char* typed = haveTerminal() ? getpass("input (hidden): ") : nullptr;
  if (!typed) {
    std::fputs("korctl writeln: no terminal to read the hidden line from; nothing sent\n", stderr);
    return 1;
  }
  std::string line = std::string(typed) + "\n";
  std::memset(typed, 0, std::strlen(typed));
  int status = sendInput(name, line, true);
  std::fill(line.begin(), line.end(), '\0');
  return status;
}

int sendKeys(const std::string& name, const std::vector<std::string>& keys) {
  if (keys.empty()) {
    std::fprintf(stderr, "korctl key: KEY required (try: korctl key %s eof)\n", name.c_str());
    return 2;
  }
  std::string payload;
  for (const std::string& key : keys) {
    std::string bytes = keyBytes(key);
    if (bytes.empty()) {
      std::fprintf(stderr, "korctl: unknown key '%s'\n", key.c_str());
      return 2;
    }
    payload += bytes;
  }
  return sendInput(name, payload, false);
}

}  // namespace kor
