#include "text/Suggest.h"

#include <algorithm>
#include <cctype>

namespace kor {

namespace {

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

}  // namespace

size_t editDistance(const std::string& a, const std::string& b) {
  // Three rows of the table are enough for a swap of neighbours.
  std::vector<size_t> before(b.size() + 1), previous(b.size() + 1), current(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) previous[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    current[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t substitute = previous[j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1);
      current[j] = std::min({previous[j] + 1, current[j - 1] + 1, substitute});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        current[j] = std::min(current[j], before[j - 2] + 1);
    }
    std::swap(before, previous);
    std::swap(previous, current);
  }
  return previous[b.size()];
}

std::vector<std::string> closestWords(const std::string& word, const std::vector<std::string>& candidates) {
  const size_t limit = word.size() >= 5 ? 2 : 1;
  size_t best = limit + 1;
  std::vector<std::string> closest;
  for (const std::string& candidate : candidates) {
    if (candidate == word) continue;
    size_t distance = lowered(candidate) == lowered(word) ? 1 : editDistance(word, candidate);
    if (distance > limit || distance > best) continue;
    if (distance < best) closest.clear();
    best = distance;
    closest.push_back(candidate);
  }
  return closest;
}

std::string quotedAlternatives(const std::vector<std::string>& words) {
  std::string text;
  for (size_t i = 0; i < words.size(); ++i) {
    if (i > 0) text += i + 1 == words.size() ? " or " : ", ";
    text += "'" + words[i] + "'";
  }
  return text;
}

}  // namespace kor
