// "Did you mean": which known words count as close to a mistyped one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/Suggest.h"

using namespace kor;

TEST(Suggest, EditDistance) {
  const std::tuple<const char*, const char*, size_t> cases[] = {
      {"run", "run", 0}, {"rn", "run", 1},     {"raed", "read", 1},  {"sesions", "sessions", 1},
      {"", "gc", 2},     {"kill", "gc", 4},    {"atach", "attach", 1}, {"ca", "abc", 3},
  };
  for (const auto& [a, b, distance] : cases) EXPECT_EQ(editDistance(a, b), distance) << a << " " << b;
}

TEST(Suggest, ClosestWords) {
  const std::vector<std::string> commands{"open", "kill", "run", "read", "resize", "sessions", "info", "gc"};
  using Words = std::vector<std::string>;
  EXPECT_EQ(closestWords("rn", commands), Words{"run"});
  EXPECT_EQ(closestWords("Read", commands), Words{"read"});          // letter case alone
  EXPECT_EQ(closestWords("sesion", commands), Words{"sessions"});    // two edits in a long word
  EXPECT_EQ(closestWords("ru", commands), Words{"run"});
  EXPECT_EQ(closestWords("rad", commands), Words{"read"});            // the nearest only
  EXPECT_EQ(closestWords("hote", {"home", "end", "hose"}), (Words{"home", "hose"}));
  EXPECT_EQ(closestWords("bogus", commands), Words{});
  EXPECT_EQ(closestWords("", commands), Words{});
  EXPECT_EQ(closestWords("run", commands), Words{});                 // the word itself is no suggestion
  EXPECT_EQ(quotedAlternatives({"a"}), "'a'");
  EXPECT_EQ(quotedAlternatives({"a", "b", "c"}), "'a', 'b' or 'c'");
}
