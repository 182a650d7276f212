// korctl kill NAME [--wait[=S]]: force-stops the session's daemon, optionally until its socket
// no longer answers.
#include "ctl/CommandTable.h"
#include "ctl/Kill.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("wait", "Block until the session has actually ended (default 10s, --wait=S)",
                  value<double>()->implicit_value("10"));
  o.add_options("positional")("NAME", "session name or socket path", value<std::string>());
  parsePositional(o, {"NAME"});
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
