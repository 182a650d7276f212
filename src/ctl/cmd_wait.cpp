#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "base/Durations.h"
#include "base/StatusRecord.h"
#include "ctl/Commands.h"
#include "ctl/OutputRead.h"

namespace kor {

// Polls every 50 ms from the current head until no output came for the quiet period.
// 0 quiet, 1 time limit passed, 2 a read failed.
int waitQuiet(const std::string& name, double idleSeconds, double timeoutSeconds) {
  using Clock = std::chrono::steady_clock;
  long long head = headCursorOf(name);
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
    if (!fetchOutput(name, cursor, chunk, false)) return 2;
    cursor = chunk.nextCursor;
    if (!chunk.data.empty()) lastOutput = pollStart;
    else if (pollStart - lastOutput >= idle) return 0;
    usleep(50000);
  }
}

}  // namespace kor
