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

using Clock = std::chrono::steady_clock;

// A waiting read waits this long at most before it asks again.
constexpr long long kMaxWaitMs = 10000;
// After a search over more text than this, the next waits a pause: at least 100 ms, and at
// least as long as that search took, so such searches take half the time at most.
constexpr size_t kLongSearch = 64 * 1024;
constexpr auto kLongSearchPause = std::chrono::milliseconds(100);

ExpectResult withStatus(int status) {
  ExpectResult result;
  result.status = status;
  return result;
}

}  // namespace

// Each poll strips only the new bytes (plus a sequence left open at the end) and searches only
// from where a match could newly start, so a session that prints megabytes before the pattern
// costs time in proportion to its output; the text searched and returned is exactly the
// stripped whole accumulation. The time limit bounds the whole command: a read waits no longer
// than it, and a search still running then is given up.
ExpectResult expectPattern(const Endpoint& session, const ExpectRequest& request) {
  using std::chrono::milliseconds;
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
  OutputReader reader{session};
  long long cursor = request.cursor;
  if (cursor < 0 && !request.fromStart) {
    std::string record;  // the head, and whether the daemon serves waiting reads
    cursor = fetchStatus(session, record) ? statusFieldIn(record, "headCursor") : -1;
    noteStatusRecord(reader, record);
  }
  if (cursor < 0) cursor = 0;
  const auto deadline = Clock::now() + milliseconds(durationMillis(request.timeoutSeconds));
  auto timedOut = [&]() {
    const char* frame = request.exact ? "\"" : "/";
    std::fprintf(stderr, "korctl: timed out waiting for %s%s%s\n", frame, pattern.c_str(), frame);
    return withStatus(1);
  };

  AnsiStripper stripper;
  bool arrived = false;  // bytes came since the last search
  ChunkSink sink;
  sink.header = [&cursor](const CursorReplyHeader& header) {
    cursor = header.nextCursor;
    return true;
  };
  sink.bytes = [&](const char* data, size_t length) {
    stripper.feed(data, length);
    arrived = true;
    return true;
  };
  size_t searched = 0;      // the settled text up to here held no match
  size_t absentBefore = 0;  // the bytes every match holds start nowhere before here
  bool first = true;
  auto nextLongSearch = Clock::time_point::min();
  for (;;) {
    auto now = Clock::now();
    if (now >= deadline) return timedOut();
    // A waiting read returns once output arrives; it waits no longer than the time limit, nor
    // past the time a postponed search is due.
    const auto until = arrived ? std::min(deadline, nextLongSearch) : deadline;
    const long long wait = std::chrono::duration_cast<milliseconds>(until - now).count();
    const uint32_t waitMs = wait > 0 ? static_cast<uint32_t>(std::min<long long>(wait, kMaxWaitMs)) : 0;
    if (!streamOutput(reader, cursor, waitMs, sink, false)) return withStatus(2);
    const std::string& text = stripper.text();

    bool found = false;
    if (request.exact) {
      size_t from = searched >= pattern.size() ? searched - pattern.size() + 1 : 0;
      found = pattern.empty() || text.find(pattern, from) != std::string::npos;
      searched = stripper.settledSize();
      arrived = false;
    } else if (first || arrived) {
      // Only where a new match could start, and only near the bytes every match holds.
      const size_t from = narrowSearch(regex, text, resumeSearchAt(regex, text, searched), absentBefore);
      // The settled text did not hold them then; only its last few bytes can start them later.
      if (from == std::string::npos && stripper.settledSize() >= regex.required.size())
        absentBefore = stripper.settledSize() - regex.required.size() + 1;
      // A search over much text (a pattern that may span any number of lines) is made at most
      // once per pause, however often a waiting read brings output.
      const bool longSearch = from != std::string::npos && text.size() - from > kLongSearch;
      now = Clock::now();
      if (!longSearch || !reader.waitRead || now >= nextLongSearch) {
        SearchResult result;
        try {
          result = from == std::string::npos ? SearchResult::kNotFound
                                             : searchRegexUntil(regex, text, from, deadline);
        } catch (const std::runtime_error& e) {
          std::fprintf(stderr, "korctl: %s\n", e.what());
          return withStatus(2);
        }
        if (result == SearchResult::kTimedOut) return timedOut();
        found = result == SearchResult::kFound;
        if (longSearch) {
          const auto end = Clock::now();
          nextLongSearch = end + std::max<Clock::duration>(kLongSearchPause, end - now);
        }
        searched = stripper.settledSize();
        arrived = false;
      }
    }
    first = false;
    if (found) return ExpectResult{0, text, cursor};
    if (!reader.waitRead) usleep(100000);
  }
}

}  // namespace kor
