#include "ctl/Regex.h"

#include <sys/wait.h>
#include <unistd.h>

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

// The backtracking executor in a child: whatever its recursion does, korctl survives it.
bool searchInChild(const std::regex& regex, const std::string& text, size_t from) {
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("cannot start pattern search: fork failed");
  if (pid == 0) {
    std::signal(SIGSEGV, SIG_DFL);  // no crash report from the child: the parent reports
    std::signal(SIGBUS, SIG_DFL);
    _exit(searchHere(regex, text, from) ? kFound : kNotFound);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0)
    if (errno != EINTR) throw std::runtime_error("cannot finish pattern search: waitpid failed");
  if (WIFEXITED(status) && WEXITSTATUS(status) == kFound) return true;
  if (WIFEXITED(status) && WEXITSTATUS(status) == kNotFound) return false;
  throw std::runtime_error("pattern search with back-references ran out of stack");
}

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
  compiled.isLiteral = pattern.find_first_of("^$\\.*+?()[]{}|") == std::string::npos;
  if (compiled.isLiteral) compiled.literal = pattern;
  return compiled;
}

bool searchRegex(const SearchRegex& pattern, const std::string& text, size_t from) {
  if (from > text.size()) from = text.size();
  if (pattern.isLiteral) return text.find(pattern.literal, from) != std::string::npos;
  if (pattern.backtracking) return searchInChild(pattern.regex, text, from);
  return searchHere(pattern.regex, text, from);
}

size_t resumeSearchAt(const SearchRegex& pattern, const std::string& text, size_t unchanged) {
  if (!pattern.withinLine || unchanged == 0) return 0;
  if (unchanged > text.size()) unchanged = text.size();
  size_t lineFeed = text.rfind('\n', unchanged - 1);
  return lineFeed == std::string::npos ? 0 : lineFeed + 1;
}

}  // namespace kor
