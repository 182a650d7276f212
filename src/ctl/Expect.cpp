#include "ctl/Expect.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "base/Durations.h"
#include "base/StatusRecord.h"
#include "ctl/OutputRead.h"
#include "text/Regex.h"
#include "text/Strip.h"

namespace kor {

namespace {

ExpectResult withStatus(int status) {
  ExpectResult result;
  result.status = status;
  return result;
}

}  // namespace

// Each poll strips only the new bytes (plus a sequence left open at the end) and searches only
// from where a match could newly start, so a session that prints megabytes before the pattern
// costs time in proportion to its output; the text searched and returned is exactly the
// stripped whole accumulation.
ExpectResult expectPattern(const Endpoint& session, const ExpectRequest& request) {
  using Clock = std::chrono::steady_clock;
  const std::string& pattern = request.pattern;
  SearchRegex regex;
  if (!request.exact) {
    try {
      regex = compileSearchRegex(pattern);
    } catch (const std::regex_error& e) {
      std::fprintf(stderr, "korctl: bad pattern: %s\n", e.what());
      return withStatus(2);
    }
  }
  long long cursor = request.cursor;
  if (cursor < 0) cursor = request.fromStart ? 0 : headCursorOf(session);
  if (cursor < 0) cursor = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(durationMillis(request.timeoutSeconds));

  AnsiStripper stripper;
  size_t searched = 0;  // the settled text up to here held no match
  for (;;) {
    if (Clock::now() >= deadline) {
      const char* frame = request.exact ? "\"" : "/";
      std::fprintf(stderr, "korctl: timed out waiting for %s%s%s\n", frame, pattern.c_str(), frame);
      return withStatus(1);
    }
    OutputChunk chunk;
    if (!fetchOutput(session, cursor, chunk, false)) return withStatus(2);
    cursor = chunk.nextCursor;
    stripper.feed(chunk.data);
    const std::string& text = stripper.text();

    bool found;
    if (request.exact) {
      size_t from = searched >= pattern.size() ? searched - pattern.size() + 1 : 0;
      found = pattern.empty() || text.find(pattern, from) != std::string::npos;
    } else {
      try {
        found = searchRegex(regex, text, resumeSearchAt(regex, text, searched));
      } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "korctl: %s\n", e.what());
        return withStatus(2);
      }
    }
    searched = stripper.settledSize();
    if (found) return ExpectResult{0, text, cursor};
    usleep(100000);
  }
}

}  // namespace kor
