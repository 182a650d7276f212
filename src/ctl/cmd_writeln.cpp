// korctl writeln NAME [TEXT] [--secret]: types a line into the session, or a line read hidden
// from the terminal (a password), sent as hidden input the daemon does not record.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "ctl/CommandTable.h"
#include "ctl/Input.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("secret", "Read the line hidden via getpass (e.g. a password)");
  o.add_options("positional")("NAME", "session", value<std::string>())
      ("TEXT", "text to send", value<std::string>());
  parsePositional(o, {"NAME", "TEXT"});
}

bool haveTerminal() {
  int fd = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd >= 0) {
    close(fd);
    return true;
  }
  return isatty(0) == 1;
}

int sendSecretLine(const Endpoint& session) {
  // Without a terminal getpass has nothing to read a hidden line from (some C libraries then
  // hand back an empty line as if one had been typed): refuse instead of sending it.
  char* typed = haveTerminal() ? getpass("input (hidden): ") : nullptr;
  if (!typed) {
    std::fputs("korctl writeln: no terminal to read the hidden line from; nothing sent\n", stderr);
    return 1;
  }
  std::string line = std::string(typed) + "\n";
  std::memset(typed, 0, std::strlen(typed));
  int status = sendInput(session, line, true);
  std::fill(line.begin(), line.end(), '\0');
  return status;
}

int execute(const Invocation& call) {
  const Endpoint session = resolveEndpoint(call.name);
  if (call.args.count("secret")) return sendSecretLine(session);
  return sendInput(session, givenOr(call.args, "TEXT", std::string()) + "\n", false);
}

}  // namespace

extern const CommandEntry kWritelnCommand = {
    "writeln",
    "Inject a line of input (or a hidden password).",
    "inject a line (or a hidden password)",
    "NAME [TEXT] [--secret]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
