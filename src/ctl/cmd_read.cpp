#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "base/Durations.h"
#include "ctl/Commands.h"
#include "ctl/OutputRead.h"

namespace kor {

namespace {

using Clock = std::chrono::steady_clock;

void printNextCursor(long long cursor) { std::fprintf(stderr, "next-cursor: %lld\n", cursor); }

int readOnce(const std::string& name, long long cursor, bool strip) {
  OutputChunk chunk;
  if (!fetchOutput(name, cursor, chunk, false)) return 1;
  if (!printChunk(chunk, strip)) return 1;
  printNextCursor(chunk.nextCursor);
  return 0;
}

// Streams new output every 150 ms until the session goes away (or SIGINT ends the process).
int readFollow(const std::string& name, long long cursor, bool strip) {
  for (bool first = true;; first = false) {
    OutputChunk chunk;
    if (!fetchOutput(name, cursor, chunk, !first)) {
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
int readSettle(const std::string& name, long long cursor, bool strip, double timeoutSeconds) {
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::milliseconds(durationMillis(timeoutSeconds));
  auto lastOutput = start;
  bool seen = false;
  while (Clock::now() < deadline) {
    OutputChunk chunk;
    if (!fetchOutput(name, cursor, chunk, false)) return 1;
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

}  // namespace

int runRead(const std::string& name, long long cursor, bool strip, bool follow, double timeoutSeconds) {
  if (follow) return readFollow(name, cursor, strip);
  if (timeoutSeconds > 0) return readSettle(name, cursor, strip, timeoutSeconds);
  return readOnce(name, cursor, strip);
}

}  // namespace kor
