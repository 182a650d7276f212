// korctl gc [--idle [DUR]] [--force]: removes dead session sockets and stale files, and with
// --idle ends idle sessions. It reads its own arguments and always exits 0.
#include <algorithm>
#include <string>
#include <vector>

#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "ctl/GarbageCollection.h"

namespace kor {

namespace {

const char* const kGcHelp =
    "korctl gc [--idle [DUR]] [--force]\n"
    "  Remove dead session sockets (a daemon that has exited leaves a\n"
    "  stale socket), and remove stale control files from the\n"
    "  saved-session directory.  With --idle, also end live sessions\n"
    "  idle longer\n"
    "  than DUR (default 8h; e.g. 30m, 6h, 2d): eof first, then a forced\n"
    "  stop if it doesn't exit within a few seconds.  --force skips the\n"
    "  graceful eof and stops idle sessions outright.";

// The table serves only `korctl help gc`; `gc --help` prints kGcHelp.
void addOptions(cxxopts::Options& o) {
  o.add_options()("idle", "Also end live sessions idle longer than DUR (e.g. 30m, 6h; default 8h)",
                  cxxopts::value<std::string>()->implicit_value("8h"))
      ("force", "Stop idle sessions outright, skipping the graceful eof");
}

int execute(const Invocation& call) {
  const int argc = call.argc;
  const GcOptions options = parseGcArguments(std::vector<std::string>(call.argv + std::min(argc, 2), call.argv + argc));
  if (options.help) {
    writeStdout(std::string(kGcHelp) + "\n");
    return 0;
  }
  collectGarbage(options);
  return 0;
}

}  // namespace

extern const CommandEntry kGcCommand = {
    "gc",
    "Remove dead session sockets (and, with --idle, end idle sessions).",
    "remove dead session sockets",
    "[--idle [DUR]] [--force]",
    Arguments::kRaw,
    addOptions,
    execute,
};

}  // namespace kor
