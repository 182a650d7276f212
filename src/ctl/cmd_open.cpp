// korctl open NAME HOST [kor-args...]: starts a session daemon, `kor --ctl`, in place of korctl,
// unless a session of that name already answers. It reads its own arguments.
#include <cstring>
#include <string>
#include <vector>

#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "ctl/Open.h"

namespace kor {

namespace {

constexpr char kOpenDescription[] = "Start a control session in the background (idempotent).";

// The generic command help with its own usage line and the pass-through note. (`korctl help
// open` shows the bare table instead.)
std::string openHelpText() {
  cxxopts::Options options("korctl open", kOpenDescription);
  options.add_options("")("h,help", "Print help");
  options.positional_help("");
  options.custom_help("NAME [user@]host[:port] [OPTION...]");
  return options.help({""}, true) +
         "  ...         Passed through to kor (see `kor --help`); --command\n"
         "              is merged into the session's setup\n"
         "\n"
         "  NAME is the session name (korctl supplies kor's --name);\n"
         "  if NAME is already running it does nothing.  HOST comes\n"
         "  before any kor options.\n";
}

int execute(const Invocation& call) {
  // Any -h or --help shows the help, even among the words meant for kor.
  for (int i = 2; i < call.argc; ++i) {
    if (std::strcmp(call.argv[i], "--help") == 0 || std::strcmp(call.argv[i], "-h") == 0)
      return writeStdout(openHelpText()) ? 0 : 1;
  }
  const OpenDecision decision = decideOpen(std::vector<std::string>(call.argv, call.argv + call.argc));
  return decision.start ? execKor(decision) : decision.status;
}

}  // namespace

// The table's usage "NAME" and its lack of options serve only `korctl help open`.
extern const CommandEntry kOpenCommand = {
    "open",
    kOpenDescription,
    "start a control session in the background (idempotent)",
    "NAME",
    Arguments::kRaw,
    nullptr,
    execute,
};

}  // namespace kor
