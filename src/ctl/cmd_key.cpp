// korctl key NAME KEY...: types named keys (arrows, function keys, interrupt, eof, ^X, ...).
#include <cstdio>
#include <vector>

#include "ctl/CommandTable.h"
#include "ctl/Input.h"
#include "text/KeyNames.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options("positional")("NAME", "session", value<std::string>())
      ("KEYS", "keys to send", value<std::vector<std::string>>());
  parsePositional(o, {"NAME", "KEYS"});
}

int execute(const Invocation& call) {
  const std::vector<std::string> keys = givenOr(call.args, "KEYS", std::vector<std::string>());
  if (keys.empty()) {
    std::fprintf(stderr, "korctl key: KEY required (try: korctl key %s eof)\n", call.name.c_str());
    return 2;
  }
  std::string payload, unknown;
  if (!keySequence(keys, payload, unknown)) {
    reportUnknownKey(unknown);
    return 2;
  }
  return sendInput(resolveEndpoint(call.name), payload, false);
}

}  // namespace

extern const CommandEntry kKeyCommand = {
    "key",
    "Inject named keys (arrows, function keys, interrupt/eof, ...).",
    "inject named keys (arrows, interrupt, eof, ...)",
    "NAME KEY...",
    Arguments::kSession,
    addOptions,
    execute,
    keyNamesHelp,
};

}  // namespace kor
