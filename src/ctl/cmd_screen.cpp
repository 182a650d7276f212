// korctl screen NAME: the session's screen as its terminal shows it now, from the daemon's model
// of that terminal; plain rows, with colours and attributes, or as one JSON object.
#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "ctl/OutputRead.h"
#include "text/ScreenText.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("ansi", "Keep colours and attributes (as SGR escape sequences)")
      ("json", "Print one JSON object: rows, cols, cursor {row, col}, alternate, lines");
  o.add_options("positional")("NAME", "session name or socket path", value<std::string>());
  parsePositional(o, {"NAME"});
}

int execute(const Invocation& call) {
  ScreenImage screen;
  if (!fetchScreen(resolveEndpoint(call.name), call.args.count("ansi") > 0, screen, "screen")) return 1;
  return writeStdout(call.args.count("json") ? screenJson(screen) : screenRows(screen)) ? 0 : 1;
}

}  // namespace

extern const CommandEntry kScreenCommand = {
    "screen",
    "Print the session's screen as its terminal shows it now.",
    "print the current screen (rows as shown)",
    "NAME [--ansi] [--json]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
