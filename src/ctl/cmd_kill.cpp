// korctl kill NAME [--wait[=S]]: force-stops the session's daemon, optionally until its socket
// no longer answers.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "base/ControlClient.h"
#include "base/Durations.h"
#include "ctl/CommandTable.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("wait", "Block until the session has actually ended (default 10s, --wait=S)",
                  value<double>()->implicit_value("10"));
  o.add_options("positional")("NAME", "session name or socket path", value<std::string>());
  parsePositional(o, {"NAME"});
}

int killSession(const Endpoint& session, double waitSeconds) {
  uint8_t replyType = 0;
  std::string reply;
  if (!controlExchange(session, kKill, "", replyType, reply, false)) return 1;
  if (!(waitSeconds > 0)) return 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(durationMillis(waitSeconds));
  if (!acceptsConnections(session)) return 0;
  for (;;) {
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fprintf(stderr, "korctl: session '%s' still alive %.0fs after kill\n", session.name.c_str(),
                   waitSeconds);
      return 1;
    }
    usleep(100000);
    if (!acceptsConnections(session)) return 0;
  }
}

int execute(const Invocation& call) {
  return killSession(resolveEndpoint(call.name), givenOr(call.args, "wait", 0.0));
}

}  // namespace

extern const CommandEntry kKillCommand = {
    "kill",
    "Force-stop a session's local daemon.",
    "force-stop a session daemon (key NAME eof ends it cleanly)",
    "NAME [--wait[=S]]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
