#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>

#include "base/Durations.h"
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "ctl/Commands.h"
#include "ctl/OutputRead.h"
#include "ctl/Regex.h"
#include "ctl/Strip.h"

namespace kor {

// Polls every 100 ms, accumulating stripped output since the start cursor, until the pattern
// shows up. 0 matched, 1 timed out, 2 bad pattern or failed read.
//
// Each poll strips only the new bytes (plus a sequence left open at the end) and searches only
// from where a match could newly start, so a session that prints megabytes before the pattern
// costs time in proportion to its output; the text searched and printed is exactly the
// stripped whole accumulation.
int expectPattern(const std::string& name, const std::string& pattern, bool fromStart, bool exact,
                  long long cursor, double timeoutSeconds) {
  using Clock = std::chrono::steady_clock;
  SearchRegex regex;
  if (!exact) {
    try {
      regex = compileSearchRegex(pattern);
    } catch (const std::regex_error& e) {
      std::fprintf(stderr, "korctl: bad pattern: %s\n", e.what());
      return 2;
    }
  }
  if (cursor < 0) cursor = fromStart ? 0 : headCursorOf(name);
  if (cursor < 0) cursor = 0;
  const auto deadline = Clock::now() + std::chrono::milliseconds(durationMillis(timeoutSeconds));

  AnsiStripper stripper;
  size_t searched = 0;  // the settled text up to here held no match
  for (;;) {
    if (Clock::now() >= deadline) {
      const char* frame = exact ? "\"" : "/";
      std::fprintf(stderr, "korctl: timed out waiting for %s%s%s\n", frame, pattern.c_str(), frame);
      return 1;
    }
    OutputChunk chunk;
    if (!fetchOutput(name, cursor, chunk, false)) return 2;
    cursor = chunk.nextCursor;
    stripper.feed(chunk.data);
    const std::string& text = stripper.text();

    bool found;
    if (exact) {
      size_t from = searched >= pattern.size() ? searched - pattern.size() + 1 : 0;
      found = pattern.empty() || text.find(pattern, from) != std::string::npos;
    } else {
      try {
        found = searchRegex(regex, text, resumeSearchAt(regex, text, searched));
      } catch (const std::runtime_error& e) {
        std::fprintf(stderr, "korctl: %s\n", e.what());
        return 2;
      }
    }
    searched = stripper.settledSize();

    if (found) {
      bool ok = writeStdout(text);
      if (ok && (text.empty() || text.back() != '\n')) ok = writeStdout("\n", 1);
      if (!ok) return 1;
      std::fprintf(stderr, "next-cursor: %lld\n", cursor);
      return 0;
    }
    usleep(100000);
  }
}

}  // namespace kor
