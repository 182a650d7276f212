// korctl key NAME KEY...: types named keys (arrows, function keys, interrupt, eof, ^X, ...).
#include <cstdio>
#include <vector>

#include "ctl/CommandTable.h"
#include "ctl/Input.h"
#include "text/KeyNames.h"
#include "text/Suggest.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options("positional")("NAME", "session", value<std::string>())
      ("KEYS", "keys to send", value<std::vector<std::string>>());
  parsePositional(o, {"NAME", "KEYS"});
}

// The bad word, then the names it was probably meant to be, or else all of them.
void reportUnknownKey(const std::string& key) {
  std::fprintf(stderr, "korctl: unknown key '%s'\n", key.c_str());
  const std::vector<std::string> close = closestWords(key, keyNames());
  if (close.empty() || close.size() > 4)  // a guess among many helps less than the list
    std::fputs(keyNamesHelp().c_str(), stderr);
  else
    std::fprintf(stderr, "korctl: did you mean %s?\n", quotedAlternatives(close).c_str());
}

int execute(const Invocation& call) {
  const std::vector<std::string> keys = givenOr(call.args, "KEYS", std::vector<std::string>());
  if (keys.empty()) {
    std::fprintf(stderr, "korctl key: KEY required (try: korctl key %s eof)\n", call.name.c_str());
    return 2;
  }
  std::string payload;
  for (const std::string& key : keys) {
    std::string bytes = keyBytes(key);
    if (bytes.empty()) {
      reportUnknownKey(key);
      return 2;
    }
    payload += bytes;
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
