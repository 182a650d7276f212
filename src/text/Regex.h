#pragma once
// Regular-expression search that never overflows the stack.
//
// Every pattern is a std::regex in the default ECMAScript grammar with no flags, and the
// compile with those flags is what validates it (its std::regex_error text is the message
// users see). libstdc++ matches such a regex by backtracking recursion whose depth grows with
// the length of text a repetition consumes, so ".*" over a long line can exhaust the stack.
// We therefore search with libstdc++'s non-recursive (breadth-first) executor, selected by the
// __polynomial syntax option: same grammar, same answer to "is there a match", recursion
// bounded by the pattern instead of the text. It is slower per byte (about 3x), which the
// line-wise incremental search below more than makes up for in polling loops.
// A pattern without any special character is searched as a plain substring.
// Back-references are the one construct that executor refuses; such a pattern is searched by
// the backtracking executor in a forked child process, so a stack overflow there ends only the
// child and surfaces as an error here instead of killing korctl. Searches with a deadline run
// in a child too unless the text is short, so the deadline can end them.
// libc++ (the system library on FreeBSD) keeps its backtracking state on the heap, so there the
// default executor is used as it is, back-references included.
// Only "is there a match" is answered: the breadth-first executor reports a leftmost-longest
// extent, which can differ from ECMAScript's leftmost-first one.
#include <chrono>
#include <cstddef>
#include <regex>
#include <string>

namespace kor {

struct SearchRegex {
  std::regex regex;
  bool backtracking = false;  // needs the recursive executor: searched in a child process
  bool withinLine = false;    // no match can consume or look past a line feed
  size_t maxLength = static_cast<size_t>(-1);  // longest text a match can look at; -1: no bound
  size_t maxLineFeeds = static_cast<size_t>(-1);  // most line feeds a match can look at; -1: no bound
  std::string literal;        // the pattern itself when it has no special character
  bool isLiteral = false;     // then a plain substring search gives the same answer, faster
  // Bytes every match holds (its longest run of plain characters, "" when unknown), and how far
  // into a match they can start at most (-1: no bound).
  std::string required;
  size_t requiredOffset = static_cast<size_t>(-1);
};

// The longest run of plain characters that every match holds, and the most bytes a match can
// have before it; "" when the pattern has alternatives at its top level or is not understood.
std::string requiredLiteral(const std::string& pattern, size_t& offset);

// Where a search from `from` can start instead, knowing the bytes every match holds: npos when
// they do not occur from there on (no match), else at most that many bytes before their first
// occurrence. A caller that knows they start nowhere before `absentBefore` says so, and they
// are looked for only from there.
size_t narrowSearch(const SearchRegex& pattern, const std::string& text, size_t from, size_t absentBefore = 0);

// Compiles pattern; throws std::regex_error when the library rejects it.
SearchRegex compileSearchRegex(const std::string& pattern);

// Whether pattern occurs in text, like std::regex_search with default flags, looking only at
// matches that start at or after `from` (the bytes before `from` still count for \b and make
// ^ fail there). Throws std::runtime_error when a back-reference search ran out of stack.
bool searchRegex(const SearchRegex& pattern, const std::string& text, size_t from = 0);

// The same, given up at the deadline: a search over more than a little text runs in a child
// process (some searches take time quadratic in the length of a line), which is ended when the
// deadline passes.
using SearchDeadline = std::chrono::steady_clock::time_point;
enum class SearchResult { kNotFound, kFound, kTimedOut };
SearchResult searchRegexUntil(const SearchRegex& pattern, const std::string& text, size_t from, SearchDeadline deadline);

// Where a new search must start after text grew or changed only from `unchanged` on, given
// that no match was found before: a match that looks at no byte from there on would have been
// found already. A pattern of bounded length needs only the end of the text searched again,
// one that can take in at most k line feeds only the last k + 1 lines; otherwise the answer
// is 0.
size_t resumeSearchAt(const SearchRegex& pattern, const std::string& text, size_t unchanged);

// The most bytes a match can span, lookaheads included; -1 when unbounded (*, +, {n,},
// back-references) or when the pattern text is not understood.
size_t patternMaxLength(const std::string& pattern);

// The most line feeds a match can look at (a negative lookahead one more than its inner
// pattern takes); -1 when unbounded or when the pattern text is not understood.
size_t patternMaxLineFeeds(const std::string& pattern);

// A conservative look at the pattern text: true only when no match can consume a line feed
// (no literal line feed, no negated class, no \s \D \W \n \x \u \c escapes, no control bytes).
bool patternStaysWithinLine(const std::string& pattern);

}  // namespace kor
