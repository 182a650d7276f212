#pragma once
// "Did you mean ...?" for a mistyped word: the known words closest to it.
#include <string>
#include <vector>

namespace kor {

// Edits (insert, delete, substitute, swap two neighbours) that turn a into b.
size_t editDistance(const std::string& a, const std::string& b);

// The candidates closest to word, in their order: those at the smallest distance, when that
// is at most 1 (2 for words of five or more characters). A difference of letter case alone
// counts as one edit. Empty when nothing is that close.
std::vector<std::string> closestWords(const std::string& word, const std::vector<std::string>& candidates);

// "'a'", "'a' or 'b'", "'a', 'b' or 'c'".
std::string quotedAlternatives(const std::vector<std::string>& words);

}  // namespace kor
