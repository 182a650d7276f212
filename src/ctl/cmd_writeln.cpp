// korctl writeln NAME [TEXT] [--secret]: types a line into the session, or a hidden line (a
// password) read from the terminal or, for a program, from standard input, sent as hidden input
// the daemon does not record.
#include <errno.h>
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
  o.add_options()("secret", "Read the line hidden via getpass (e.g. a password); from a pipe, the first line of "
                            "standard input");
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

void wipe(std::string& text) { std::fill(text.begin(), text.end(), '\0'); }

// The hidden line typed on the terminal; false when there is no terminal to read it from.
bool typedSecret(std::string& line) {
  // Without a terminal getpass has nothing to read a hidden line from (some C libraries then
  // hand back an empty line as if one had been typed): refuse instead of sending it.
  char* typed = haveTerminal() ? getpass("input (hidden): ") : nullptr;
  if (!typed) {
    std::fputs("korctl writeln: no terminal to read the hidden line from; nothing sent\n", stderr);
    return false;
  }
  line = typed;
  std::memset(typed, 0, std::strlen(typed));
  return true;
}

// The first line of standard input (a program's pipe), read a byte at a time so nothing after
// it is taken; false when input ends before any byte or cannot be read.
bool pipedSecret(std::string& line) {
  for (char c;;) {
    ssize_t n = read(0, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      wipe(line);
      std::fprintf(stderr, "korctl writeln: cannot read the hidden line from standard input: %s; nothing sent\n",
                   std::strerror(errno));
      return false;
    }
    if (n == 0) break;
    if (c == '\n') return true;
    line += c;
    c = 0;
  }
  if (!line.empty()) return true;  // the last line of the input, without its line end
  std::fputs("korctl writeln: standard input ended before a line; nothing sent\n", stderr);
  return false;
}

int sendSecretLine(const Endpoint& session) {
  std::string line;
  line.reserve(256);  // the bytes stay in one buffer, wiped below
  if (!(isatty(0) ? typedSecret(line) : pipedSecret(line))) return 1;
  line += '\n';
  int status = sendInput(session, line, true);
  wipe(line);
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
