// korctl gc [--idle [DUR]] [--force] [--dry-run]: removes dead session sockets and stale files,
// and with --idle ends idle sessions. It reads its own arguments: a word it does not know is
// an error (status 2) before anything is done; otherwise it exits 0.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "ctl/GarbageCollection.h"

namespace kor {

namespace {

const char* const kGcHelp =
    "korctl gc [--idle [DUR]] [--force] [--dry-run]\n"
    "  Remove dead session sockets (a daemon that has exited leaves a\n"
    "  stale socket), the files of sessions that ended longer ago than\n"
    "  DUR (their ended reason, framing and start lock), and stale control\n"
    "  files from the saved-session directory.  With --idle, also end live\n"
    "  sessions idle longer than DUR (default 8h; e.g. 30m, 6h, 2d): eof\n"
    "  first, then a forced stop if it doesn't exit within a few seconds.\n"
    "  --force skips the graceful eof and stops idle sessions outright.\n"
    "  --dry-run prints what would be stopped or removed and touches nothing.";

// The table serves only `korctl help gc`; `gc --help` prints kGcHelp.
void addOptions(cxxopts::Options& o) {
  o.add_options()("idle", "Also end live sessions idle longer than DUR (e.g. 30m, 6h; default 8h)",
                  cxxopts::value<std::string>()->implicit_value("8h"))
      ("force", "Stop idle sessions outright, skipping the graceful eof")
      ("dry-run", "Print what would be stopped or removed; stop and remove nothing");
}

int execute(const Invocation& call) {
  const int argc = call.argc;
  const GcOptions options = parseGcArguments(std::vector<std::string>(call.argv + std::min(argc, 2), call.argv + argc));
  if (options.help) return writeStdout(std::string(kGcHelp) + "\n") ? 0 : 1;
  if (!options.problem.empty()) {
    std::fprintf(stderr, "korctl gc: %s\n", options.problem.c_str());
    return 2;
  }
  collectGarbage(options);
  return 0;
}

}  // namespace

extern const CommandEntry kGcCommand = {
    "gc",
    "Remove dead session sockets (and, with --idle, end idle sessions).",
    "remove dead session sockets",
    "[--idle [DUR]] [--force] [--dry-run]",
    Arguments::kRaw,
    addOptions,
    execute,
};

}  // namespace kor
