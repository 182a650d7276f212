// korctl resize NAME ROWS COLS: sets the session's terminal size.
#include <cstdio>

#include "ctl/CommandTable.h"
#include "ctl/TerminalSize.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options("positional")("NAME", "session", value<std::string>())
      ("ROWS", "rows", value<int>())
      ("COLS", "columns", value<int>());
  parsePositional(o, {"NAME", "ROWS", "COLS"});
}

int execute(const Invocation& call) {
  if (!call.args.count("ROWS") || !call.args.count("COLS")) {
    std::fprintf(stderr, "korctl resize: NAME ROWS COLS\n");
    return 2;
  }
  return sendTerminalSize(resolveEndpoint(call.name), call.args["ROWS"].as<int>(), call.args["COLS"].as<int>(), 0, 0,
                          false)
             ? 0
             : 1;
}

}  // namespace

extern const CommandEntry kResizeCommand = {
    "resize",
    "Set the session's terminal size.",
    "set terminal size",
    "NAME ROWS COLS",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
