#pragma once
// Random texts for the tests that check a growing-text scanner against a fresh search.
#include <random>
#include <string>
#include <vector>

// count pieces, each picked at random.
inline std::string randomText(std::mt19937& rng, const std::vector<std::string>& pieces, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += pieces[rng() % pieces.size()];
  return text;
}
