// korctl write NAME [TEXT]: types raw bytes into the session: TEXT, or all of standard input.
#include <cstdio>
#include <stdexcept>

#include "ctl/CommandTable.h"
#include "ctl/Input.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options("positional")("NAME", "session", value<std::string>())
      ("TEXT", "text to send (raw, no newline added)", value<std::string>());
  parsePositional(o, {"NAME", "TEXT"});
}

int execute(const Invocation& call) {
  std::string bytes;
  if (call.args.count("TEXT")) {
    bytes = call.args["TEXT"].as<std::string>();
  } else {
    try {
      bytes = readStdin();
    } catch (const std::runtime_error& e) {
      std::fprintf(stderr, "korctl write: cannot read standard input: %s\n", e.what());
      return 1;
    }
  }
  return sendInput(resolveEndpoint(call.name), bytes, false);
}

}  // namespace

extern const CommandEntry kWriteCommand = {
    "write",
    "Inject raw input bytes (a TEXT arg, or stdin).",
    "inject raw input bytes (no newline)",
    "NAME [TEXT]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
