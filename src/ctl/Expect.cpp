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

// After a search over more text than this, the next waits a pause: at least 100 ms, and at
// least as long as that search took, so such searches take half the time at most.
constexpr size_t kLongSearch = 64 * 1024;
constexpr auto kLongSearchPause = std::chrono::milliseconds(100);

ExpectResult withStatus(int status) {
  ExpectResult result;
  result.status = status;
  return result;
}

// The search of the growing stripped text, remembering what earlier searches established.
struct GrowingSearch {
  explicit GrowingSearch(const ExpectRequest& r) : request(r) {}
  const ExpectRequest& request;
  SearchRegex regex;
  size_t searched = 0;      // the settled text up to here held no match
  size_t absentBefore = 0;  // the bytes every match holds start nowhere before here
  bool due = true;          // text arrived (or nothing was searched yet)
  bool putOff = false;      // a long search waits for its pause to end
  Clock::time_point nextLongSearch = Clock::time_point::min();

  // kFound, kNotFound (also for a search put off: due stays set) or kTimedOut; raises when a
  // back-reference search ran out of stack.
  SearchResult step(const std::string& text, size_t settled, bool paced, Clock::time_point deadline) {
    const std::string& pattern = request.pattern;
    if (request.exact) {
      size_t from = searched >= pattern.size() ? searched - pattern.size() + 1 : 0;
      searched = settled;
      due = false;
      return pattern.empty() || text.find(pattern, from) != std::string::npos ? SearchResult::kFound
                                                                               : SearchResult::kNotFound;
    }
    if (!due) return SearchResult::kNotFound;
    // Only where a new match could start, and only near the bytes every match holds.
    const size_t from = narrowSearch(regex, text, resumeSearchAt(regex, text, searched), absentBefore);
    if (from == std::string::npos) {
      // The settled text does not hold them; only its last few bytes can start them later.
      if (settled >= regex.required.size()) absentBefore = settled - regex.required.size() + 1;
      searched = settled;
      due = false;
      return SearchResult::kNotFound;
    }
    // A search over much text (a pattern that may span any number of lines) is made at most
    // once per pause, however often a waiting read brings output.
    const bool longSearch = text.size() - from > kLongSearch;
    const auto start = Clock::now();
    putOff = longSearch && paced && start < nextLongSearch;
    if (putOff) return SearchResult::kNotFound;
    const SearchResult result = searchRegexUntil(regex, text, from, deadline);
    if (longSearch) {
      const auto end = Clock::now();
      nextLongSearch = end + std::max<Clock::duration>(kLongSearchPause, end - start);
    }
    searched = settled;
    due = false;
    return result;
  }

  // Until when a waiting read may wait: a search put off is due at its time.
  Clock::time_point waitUntil(Clock::time_point deadline) const {
    return putOff ? std::min(deadline, nextLongSearch) : deadline;
  }
};

}  // namespace

// Each poll strips only the new bytes (plus a sequence left open at the end) and searches only
// from where a match could newly start, so a session that prints megabytes before the pattern
// costs time in proportion to its output; the text searched and returned is exactly the
// stripped whole accumulation. The time limit bounds the whole command: a read waits no longer
// than it, and a search still running then is given up.
ExpectResult expectPattern(const Endpoint& session, const ExpectRequest& request) {
  using std::chrono::milliseconds;
  GrowingSearch search(request);
  if (!request.exact) {
    try {
      search.regex = compileSearchRegex(request.pattern);
    } catch (const std::regex_error& e) {
      std::fprintf(stderr, "korctl: bad pattern: %s\n", e.what());
      return withStatus(2);
    }
  }
  OutputReader reader{session};
  long long cursor = request.cursor;
  if (cursor < 0 && (request.afterInput || !request.fromStart)) {
    std::string record;  // where to start, and whether the daemon serves waiting reads
    if (!fetchStatus(session, record)) return withStatus(2);  // one failure, reported once
    noteStatusRecord(reader, record);
    cursor = statusFieldIn(record, request.afterInput ? "inputCursor" : "headCursor");
    if (request.afterInput && cursor < 0) {
      std::fprintf(stderr, "korctl expect: session '%s' does not report where its input went (no inputCursor)\n",
                   session.name.c_str());
      return withStatus(2);
    }
  }
  if (cursor < 0) cursor = 0;
  const auto deadline = Clock::now() + milliseconds(durationMillis(request.timeoutSeconds));
  auto timedOut = [&]() {
    const char* frame = request.exact ? "\"" : "/";
    std::fprintf(stderr, "korctl: timed out waiting for %s%s%s\n", frame, request.pattern.c_str(), frame);
    return withStatus(1);
  };

  AnsiStripper stripper;
  ChunkSink sink;
  sink.header = [&cursor](const CursorReplyHeader& header) {
    cursor = header.nextCursor;
    return true;
  };
  sink.bytes = [&](const char* data, size_t length) {
    stripper.feed(data, length);
    search.due = true;
    return true;
  };
  for (;;) {
    const auto now = Clock::now();
    if (now >= deadline) return timedOut();
    // A waiting read returns once output arrives; it waits no longer than the time limit, nor
    // past the time a search put off is due.
    if (!streamOutput(reader, cursor, waitMillis(search.waitUntil(deadline) - now), sink, false)) return withStatus(2);
    const std::string& text = stripper.text();
    SearchResult result;
    try {
      result = search.step(text, stripper.settledSize(), reader.waitRead, deadline);
    } catch (const std::runtime_error& e) {
      std::fprintf(stderr, "korctl: %s\n", e.what());
      return withStatus(2);
    }
    if (result == SearchResult::kTimedOut) return timedOut();
    if (result == SearchResult::kFound) return ExpectResult{0, text, cursor};
    if (!reader.waitRead) usleep(100000);
  }
}

}  // namespace kor
