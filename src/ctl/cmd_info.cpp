// korctl info NAME: prints the session's status record exactly as the daemon sent it.
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"

namespace kor {

namespace {

void addOptions(cxxopts::Options& o) {
  o.add_options("positional")("NAME", "session name or socket path", cxxopts::value<std::string>());
  parsePositional(o, {"NAME"});
}

int execute(const Invocation& call) {
  std::string record;
  if (!fetchStatus(resolveEndpoint(call.name), record)) return 1;
  const std::string text = record.substr(0, record.find('\0'));
  if (text.empty()) return 0;
  return writeStdout(text) ? 0 : 1;
}

}  // namespace

extern const CommandEntry kInfoCommand = {
    "info",
    "Show session status (liveness, link, size, cursor).",
    "show session status",
    "NAME",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
