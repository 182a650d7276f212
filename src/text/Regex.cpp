#include "text/Regex.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kor {

namespace {

bool searchHere(const std::regex& regex, const std::string& text, size_t from) {
  auto flags = from > 0 ? std::regex_constants::match_prev_avail : std::regex_constants::match_default;
  return std::regex_search(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), regex, flags);
}

// Exit statuses of the search child, apart from any a crash handler might choose.
constexpr int kFound = 90, kNotFound = 91;

// Searches no longer than this are done in place: even a pattern whose search is quadratic in
// the text is quick over so little.
constexpr size_t kSearchInPlace = 2048;

// The search in a child process: whatever the backtracking executor's recursion does, korctl
// survives it, and a search still running at the deadline is ended there.
SearchResult searchInChild(const std::regex& regex, const std::string& text, size_t from, SearchDeadline deadline) {
  int done[2];
  if (pipe(done) != 0) throw std::runtime_error("cannot start pattern search: pipe failed");
  pid_t pid = fork();
  if (pid < 0) {
    close(done[0]);
    close(done[1]);
    throw std::runtime_error("cannot start pattern search: fork failed");
  }
  if (pid == 0) {
    std::signal(SIGSEGV, SIG_DFL);  // no crash report from the child: the parent reports
    std::signal(SIGBUS, SIG_DFL);
    close(done[0]);
    _exit(searchHere(regex, text, from) ? kFound : kNotFound);  // its end closes the pipe
  }
  close(done[1]);
  bool ended = false;  // the child has gone, one way or another
  while (!ended) {
    int wait = -1;
    if (deadline != SearchDeadline::max()) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) break;
      wait = static_cast<int>(std::min<long long>(left + 1, 1 << 30));
    }
    struct pollfd pipeEnd = {done[0], POLLIN, 0};
    int ready = poll(&pipeEnd, 1, wait);
    if (ready < 0 && errno != EINTR) break;
    ended = ready > 0;
  }
  close(done[0]);
  if (!ended) kill(pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("cannot finish pattern search: waitpid failed");
  if (!ended) return SearchResult::kTimedOut;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kFound) return SearchResult::kFound;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNotFound) return SearchResult::kNotFound;
  throw std::runtime_error("pattern search with back-references ran out of stack");
}

SearchResult resultOf(bool found) { return found ? SearchResult::kFound : SearchResult::kNotFound; }

}  // namespace

bool patternStaysWithinLine(const std::string& pattern) {
  bool inClass = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(pattern[i]);
    if (c < 0x0b) return false;  // a line feed, or a control byte that could start a range over it
    if (c == '\\') {
      if (++i == pattern.size()) return false;
      unsigned char e = static_cast<unsigned char>(pattern[i]);
      if (e < 0x0b) return false;
      if (inClass && e >= 0x80) return false;  // see below: a signed char as range start
      if (!std::isalnum(e)) continue;  // an escaped punctuation character stands for itself
      switch (e) {
        case 'd': case 'w': case 'S': case 'r': case 'f': case 'v':
          continue;
        case 'b': case 'B':
          if (inClass) return false;  // \b in a class is a backspace, a possible range start
          continue;
        default:
          return false;  // \s \D \W \n \t \x \u \c, digits (back-references, \0)
      }
    }
    if (inClass) {
      // Class ranges compare plain (signed) chars, so a byte above 0x7f starts a range that
      // runs through the control bytes: "[\xc3\xa9-z]" takes a line feed.
      if (c >= 0x80) return false;
      if (c == ']') inClass = false;
      else if (c == '[' && i + 1 < pattern.size() && pattern[i + 1] != 0 &&
               std::strchr(":=.", pattern[i + 1]))
        return false;  // [:space:] and its kin
      continue;
    }
    if (c == '[') {
      if (i + 1 < pattern.size() && pattern[i + 1] == '^') return false;
      inClass = true;
    }
  }
  return true;
}

namespace {

constexpr size_t kUnbounded = static_cast<size_t>(-1);
constexpr size_t kLengthCap = 1u << 20;  // longer bounds are treated as none

size_t addLengths(size_t a, size_t b) { return a == kUnbounded || b == kUnbounded || a + b > kLengthCap ? kUnbounded : a + b; }
size_t timesLength(size_t a, size_t n) {
  if (a == 0) return 0;
  return a == kUnbounded || n > kLengthCap / a ? kUnbounded : a * n;
}
size_t maxOf(size_t a, size_t b) { return a == kUnbounded || b == kUnbounded ? kUnbounded : std::max(a, b); }

// What a piece of pattern can look at: its longest text, and the most line feeds in it.
struct Extent {
  size_t length = 0;
  size_t lineFeeds = 0;
};
Extent add(Extent a, Extent b) { return {addLengths(a.length, b.length), addLengths(a.lineFeeds, b.lineFeeds)}; }
Extent either(Extent a, Extent b) { return {maxOf(a.length, b.length), maxOf(a.lineFeeds, b.lineFeeds)}; }
Extent times(Extent a, size_t n) { return {timesLength(a.length, n), timesLength(a.lineFeeds, n)}; }
const Extent kNone = {kUnbounded, kUnbounded};

// A small reader of the pattern text; anything it is unsure of makes both bounds unknown.
struct ExtentReader {
  const std::string& p;
  size_t i = 0;
  bool failed = false;

  bool more() const { return i < p.size(); }

  Extent alternatives() {
    Extent widest = sequence();
    while (!failed && more() && p[i] == '|') {
      ++i;
      widest = either(widest, sequence());
    }
    return widest;
  }

  Extent sequence() {
    Extent total;
    while (!failed && more() && p[i] != '|' && p[i] != ')') total = add(total, quantified(atom()));
    return total;
  }

  Extent atom() {
    const size_t at = i;
    char c = p[i++];
    switch (c) {
      case '^': case '$':
        return {};
      case '(': {
        bool negative = false;
        if (i + 1 < p.size() && p[i] == '?' && std::strchr(":=!", p[i + 1])) {
          negative = p[i + 1] == '!';
          i += 2;  // lookaheads count as consumed
        }
        Extent inner = alternatives();
        if (!more() || p[i] != ')') failed = true;
        ++i;
        // A negative lookahead that holds has looked one byte past any way its inner pattern
        // can go: that byte may be a line feed.
        if (negative) inner.lineFeeds = addLengths(inner.lineFeeds, 1);
        return inner;
      }
      case '[':
        skipClass();
        return {1, patternStaysWithinLine(p.substr(at, i - at)) ? 0u : 1u};
      case '\\':
        return escape();
      case '*': case '+': case '?': case '{': case ')': case ']': case '}':
        return fail();
      default:
        return {1, c == '\n' ? 1u : 0u};
    }
  }

  Extent escape() {
    if (!more()) return fail();
    const size_t at = i - 1;
    char e = p[i++];
    if (e >= '1' && e <= '9') return fail();  // back-reference: as long as what it refers to
    if (e == 'b' || e == 'B') return {};
    if (e == 'x') i += 2;
    if (e == 'u') i += 4;
    if (e == 'c') i += 1;
    if (i > p.size()) return fail();
    return {1, patternStaysWithinLine(p.substr(at, i - at)) ? 0u : 1u};
  }

  void skipClass() {
    if (more() && p[i] == '^') ++i;
    while (more() && p[i] != ']') {
      if (p[i] == '\\') i += 2;
      else if (p[i] == '[' && i + 1 < p.size() && std::strchr(":=.", p[i + 1]) && p[i + 1]) {
        size_t close = p.find(std::string(1, p[i + 1]) + "]", i + 2);
        if (close == std::string::npos) { fail(); return; }
        i = close + 2;
      } else {
        ++i;
      }
    }
    if (!more()) fail();
    ++i;
  }

  Extent quantified(Extent one) {
    if (failed || !more()) return one;
    Extent result = one;
    char q = p[i];
    if (q == '*' || q == '+') {
      ++i;
      result = times(one, kUnbounded);
    } else if (q == '?') {
      ++i;
    } else if (q == '{') {
      size_t close = p.find('}', i);
      if (close == std::string::npos) return fail();
      std::string body = p.substr(i + 1, close - i - 1);
      i = close + 1;
      size_t comma = body.find(',');
      std::string upper = comma == std::string::npos ? body : body.substr(comma + 1);
      if (upper.empty() || upper.size() > 7 || upper.find_first_not_of("0123456789") != std::string::npos)
        result = times(one, kUnbounded);
      else
        result = times(one, std::stoul(upper));
    } else {
      return one;
    }
    if (more() && p[i] == '?') ++i;  // lazy
    return result;
  }

  Extent fail() {
    failed = true;
    return kNone;
  }
};

Extent patternExtent(const std::string& pattern) {
  ExtentReader reader{pattern};
  Extent extent = reader.alternatives();
  if (reader.failed || reader.more()) return kNone;
  return extent;
}

}  // namespace

size_t patternMaxLength(const std::string& pattern) { return patternExtent(pattern).length; }

std::string requiredLiteral(const std::string& pattern, size_t& offset) {
  ExtentReader reader{pattern};
  std::string best, run;
  size_t bestStart = 0, runStart = 0;
  auto endRun = [&]() {
    if (run.size() > best.size()) {
      best = run;
      bestStart = runStart;
    }
    run.clear();
  };
  while (!reader.failed && reader.more()) {
    const size_t at = reader.i;
    const char c = pattern[at];
    if (c == '|') return "";  // alternatives: no byte is in every match
    const Extent one = reader.atom();
    // A plain character, or an escaped punctuation character, stands for itself.
    int literal = -1;
    if (reader.i == at + 1 && !std::strchr("^$.()[]{}*+?|\\", c)) literal = static_cast<unsigned char>(c);
    if (c == '\\' && reader.i == at + 2 && !std::isalnum(static_cast<unsigned char>(pattern[at + 1])))
      literal = static_cast<unsigned char>(pattern[at + 1]);
    const char next = reader.more() ? pattern[reader.i] : 0;
    const bool quantified = next && std::strchr("*+?{", next);
    reader.quantified(one);
    if (literal >= 0 && (!quantified || next == '+')) {
      if (run.empty()) runStart = at;
      run += static_cast<char>(literal);
      if (quantified) endRun();  // "a+" holds one a, then maybe more
    } else {
      endRun();
    }
  }
  endRun();
  if (reader.failed) return "";
  offset = best.empty() ? 0 : patternMaxLength(pattern.substr(0, bestStart));
  return best;
}

size_t narrowSearch(const SearchRegex& pattern, const std::string& text, size_t from, size_t absentBefore) {
  if (pattern.required.empty()) return from;
  const size_t at = text.find(pattern.required, std::max(from, absentBefore));
  if (at == std::string::npos) return std::string::npos;
  if (pattern.requiredOffset == kUnbounded) return from;
  return std::max(from, at >= pattern.requiredOffset ? at - pattern.requiredOffset : 0);
}

size_t patternMaxLineFeeds(const std::string& pattern) { return patternExtent(pattern).lineFeeds; }

SearchRegex compileSearchRegex(const std::string& pattern) {
  SearchRegex compiled;
  compiled.regex = std::regex(pattern);  // validates; its error text is the one shown
#if defined(__GLIBCXX__)
  try {
    compiled.regex = std::regex(pattern, std::regex::ECMAScript | std::regex_constants::__polynomial);
  } catch (const std::regex_error&) {
    compiled.backtracking = true;  // back-references need the recursive executor
  }
#endif
  compiled.withinLine = patternStaysWithinLine(pattern);
  const Extent extent = patternExtent(pattern);
  compiled.maxLength = extent.length;
  compiled.maxLineFeeds = compiled.withinLine ? 0 : extent.lineFeeds;
  compiled.isLiteral = pattern.find_first_of("^$\\.*+?()[]{}|") == std::string::npos;
  if (compiled.isLiteral) compiled.literal = pattern;
  compiled.required = requiredLiteral(pattern, compiled.requiredOffset);
  return compiled;
}

SearchResult searchRegexUntil(const SearchRegex& pattern, const std::string& text, size_t from, SearchDeadline deadline) {
  if (from > text.size()) from = text.size();
  if (pattern.isLiteral) return resultOf(text.find(pattern.literal, from) != std::string::npos);
  from = narrowSearch(pattern, text, from);
  if (from == std::string::npos) return SearchResult::kNotFound;
  if (!pattern.backtracking && text.size() - from <= kSearchInPlace) return resultOf(searchHere(pattern.regex, text, from));
  return searchInChild(pattern.regex, text, from, deadline);
}

bool searchRegex(const SearchRegex& pattern, const std::string& text, size_t from) {
  return searchRegexUntil(pattern, text, from, SearchDeadline::max()) == SearchResult::kFound;
}

size_t resumeSearchAt(const SearchRegex& pattern, const std::string& text, size_t unchanged) {
  if (unchanged > text.size()) unchanged = text.size();
  size_t from = 0;
  // A new match must look at some byte from `unchanged` on: it starts at most its length
  // (plus the byte \b peeks at) before that...
  if (pattern.maxLength != kUnbounded && unchanged > pattern.maxLength + 1) from = unchanged - pattern.maxLength - 1;
  // ...and it takes in at most so many line feeds before that byte, so it starts after the
  // line feed one further back (only the part that could move `from` on is scanned).
  if (pattern.maxLineFeeds != kUnbounded) {
    size_t lineFeeds = 0;
    for (size_t i = unchanged; i > from; --i)
      if (text[i - 1] == '\n' && ++lineFeeds > pattern.maxLineFeeds) return i;
  }
  return from;
}

}  // namespace kor
