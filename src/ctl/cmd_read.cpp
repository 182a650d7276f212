// korctl read NAME: the session's retained output by cursor, without consuming it: once,
// following new output, or until it settles.
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "base/Durations.h"
#include "ctl/CommandTable.h"
#include "ctl/OutputRead.h"

namespace kor {

namespace {

using Clock = std::chrono::steady_clock;

void printNextCursor(long long cursor) { std::fprintf(stderr, "next-cursor: %lld\n", cursor); }

int readOnce(const Endpoint& session, long long cursor, bool strip) {
  OutputChunk chunk;
  if (!fetchOutput(session, cursor, chunk, false)) return 1;
  if (!printChunk(chunk, strip)) return 1;
  printNextCursor(chunk.nextCursor);
  return 0;
}

// Streams new output every 150 ms until the session goes away (or SIGINT ends the process).
int readFollow(const Endpoint& session, long long cursor, bool strip) {
  for (bool first = true;; first = false) {
    OutputChunk chunk;
    if (!fetchOutput(session, cursor, chunk, !first)) {
      if (first) return 1;
      std::fputs("[session ended]\n", stderr);
      return 0;
    }
    if (!printChunk(chunk, strip)) return 1;
    cursor = chunk.nextCursor;
    usleep(150000);
  }
}

// Reads until output has arrived and then stayed away for 300 ms, or the time limit passes.
int readSettle(const Endpoint& session, long long cursor, bool strip, double timeoutSeconds) {
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(durationMillis(timeoutSeconds));
  auto lastOutput = start;
  bool seen = false;
  while (Clock::now() < deadline) {
    OutputChunk chunk;
    if (!fetchOutput(session, cursor, chunk, false)) return 1;
    cursor = chunk.nextCursor;
    if (!chunk.data.empty()) {
      if (!printChunk(chunk, strip)) return 1;
      seen = true;
      lastOutput = Clock::now();
    } else if (seen && Clock::now() - lastOutput > std::chrono::milliseconds(300)) {
      break;
    }
    usleep(50000);
  }
  printNextCursor(cursor);
  return 0;
}

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("cursor", kCursorOptionHelp, value<long long>())
      ("strip", "Remove ANSI escape sequences")
      ("follow", "Tail new output until interrupted (Ctrl-C)")
      ("timeout", "Wait up to S seconds for new output, then return", value<double>());
  o.add_options("positional")("NAME", "session", value<std::string>());
  parsePositional(o, {"NAME"});
}

int execute(const Invocation& call) {
  const Endpoint session = resolveEndpoint(call.name);
  const long long cursor = givenOr(call.args, "cursor", -1LL);
  const bool strip = call.args.count("strip") > 0;
  const double timeoutSeconds = givenOr(call.args, "timeout", 0.0);
  if (call.args.count("follow")) return readFollow(session, cursor, strip);
  if (timeoutSeconds > 0) return readSettle(session, cursor, strip, timeoutSeconds);
  return readOnce(session, cursor, strip);
}

}  // namespace

extern const CommandEntry kReadCommand = {
    "read",
    "Read session output without consuming it.",
    "read output (non-destructive)",
    "NAME [OPTION...]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
