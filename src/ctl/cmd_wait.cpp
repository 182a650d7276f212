// korctl wait NAME: blocks until the session's output has been quiet for a while.
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "base/Durations.h"
#include "base/StatusRecord.h"
#include "ctl/CommandTable.h"
#include "ctl/OutputRead.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("idle", "Required quiet period in seconds", value<double>()->default_value("0.5"))
      ("timeout", "Seconds before giving up", value<double>()->default_value("30"));
  o.add_options("positional")("NAME", "session", value<std::string>());
  parsePositional(o, {"NAME"});
}

// Polls every 50 ms from the current head until no output came for the quiet period.
// 0 quiet, 1 time limit passed, 2 a read failed.
int waitQuiet(const Endpoint& session, double idleSeconds, double timeoutSeconds) {
  using Clock = std::chrono::steady_clock;
  std::string record;
  if (!fetchStatus(session, record)) return 2;  // one failure, reported once
  const long long head = statusFieldIn(record, "headCursor");
  long long cursor = head > 0 ? head : 0;
  const auto idle = std::chrono::milliseconds(durationMillis(idleSeconds));
  const auto limit = std::chrono::milliseconds(durationMillis(timeoutSeconds));
  const auto start = Clock::now();
  auto lastOutput = start;
  for (;;) {
    const auto pollStart = Clock::now();
    if (pollStart - start > limit) {
      std::fprintf(stderr, "korctl: wait timed out after %.1fs\n", timeoutSeconds);
      return 1;
    }
    OutputChunk chunk;
    if (!fetchOutput(session, cursor, chunk, false)) return 2;
    cursor = chunk.nextCursor;
    if (!chunk.data.empty()) lastOutput = pollStart;
    else if (pollStart - lastOutput >= idle) return 0;
    usleep(50000);
  }
}

int execute(const Invocation& call) {
  return waitQuiet(resolveEndpoint(call.name), call.args["idle"].as<double>(), call.args["timeout"].as<double>());
}

}  // namespace

extern const CommandEntry kWaitCommand = {
    "wait",
    "Wait until the session output goes quiet.",
    "wait until output goes quiet",
    "NAME [OPTION...]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
