#pragma once
#include <string>

namespace kor {

// Text to stand between single quotes of a shell line: each ' becomes '\'' (the same bytes
// for every other text; POSIX shells, zsh and fish all read it back as the original).
inline std::string quoteForSingleQuotes(const std::string& text) {
  std::string quoted;
  for (char c : text) {
    if (c == '\'') quoted += "'\\''";
    else quoted += c;
  }
  return quoted;
}

// The text as one single-quoted shell word.
inline std::string shellQuote(const std::string& text) { return "'" + quoteForSingleQuotes(text) + "'"; }

}  // namespace kor
