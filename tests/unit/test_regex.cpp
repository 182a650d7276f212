#include <gtest/gtest.h>

#include <random>
#include <string>

#include "text/Regex.h"

using namespace kor;

TEST(Regex, CompileValidatesWithTheLibraryMessage) {
  EXPECT_THROW(compileSearchRegex("a(b"), std::regex_error);
  EXPECT_THROW(compileSearchRegex("[z-a]"), std::regex_error);
  try {
    compileSearchRegex("a(b");
  } catch (const std::regex_error& e) {
    EXPECT_NE(std::string(e.what()), "");
  }
  SearchRegex plain = compileSearchRegex("ok [0-9]+");
  EXPECT_FALSE(plain.backtracking);
  EXPECT_TRUE(searchRegex(plain, "x ok 12"));
  EXPECT_FALSE(searchRegex(plain, "x ok x"));
}

TEST(Regex, BackReferencesStillWork) {
  SearchRegex twice = compileSearchRegex("(ab)\\1");
  EXPECT_TRUE(searchRegex(twice, "xxababx"));
  EXPECT_FALSE(searchRegex(twice, "xxabx"));
}

TEST(Regex, LongLinesDoNotExhaustTheStack) {
  std::string line(1u << 20, 'a');  // far deeper than any stack a recursive match could use
  line += "END";
  EXPECT_TRUE(searchRegex(compileSearchRegex("^a.*END$"), line));
  EXPECT_TRUE(searchRegex(compileSearchRegex("(a|b)*END"), line));
  EXPECT_FALSE(searchRegex(compileSearchRegex("^a*b"), line));
  // Back-references run in a child: a deep search fails with an error, never a crash.
  try {
    EXPECT_TRUE(searchRegex(compileSearchRegex("^(a)\\1.*END"), line));
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("stack"), std::string::npos);
  }
}

TEST(Regex, LineConfinedPatterns) {
  for (const char* p : {"", "abc", "a.*b", "^\\$ $", "\\d+\\w\\S\\b", "[a-z_]+", "(?:x|y){2,}", "a(?=b)(?!c)",
                        "[]", "\\.\\[\\]", "\\r\\f"})
    EXPECT_TRUE(patternStaysWithinLine(p)) << p;
  for (const char* p : {"a\nb", "[^x]", "\\s", "\\D", "\\W", "\\n", "\\x0a", "\\u000a", "\\cJ", "(a)\\1", "\\0",
                        "[[:space:]]", "[\\b-z]", "\\t", "a\\", "[\xc3\xa9-z]", "[\\\xc3-z]"})
    EXPECT_FALSE(patternStaysWithinLine(p)) << p;
}

TEST(Regex, LongestMatch) {
  const size_t none = static_cast<size_t>(-1);
  struct Case {
    const char* pattern;
    size_t length;
  } cases[] = {
      {"", 0}, {"abc", 3}, {"^\\$ $", 2}, {"a|bcd|ef", 3}, {"(ab|c)?x{2,5}", 7}, {"[^a-z\\]]\\x41\\u0042", 3},
      {"\\bword\\b(?=!)", 5}, {"(?:a(b(c)))d", 4}, {"[[:digit:]]{3}", 3}, {"x{4}?", 4},
      {"a*", none}, {"a+b", none}, {"a{2,}", none}, {"(a)\\1", none}, {"(?:ab)*c", none}, {"a{1,99999999}", none},
  };
  for (const auto& c : cases) EXPECT_EQ(patternMaxLength(c.pattern), c.length) << c.pattern;
}

TEST(Regex, RequiredLiteral) {
  const size_t none = static_cast<size_t>(-1);
  struct Case {
    const char* pattern;
    const char* literal;
    size_t offset;
  } cases[] = {
      {"FINI[S]+HED", "FINI", 0}, {"x.*needle", "needle", none}, {"[ab]{2}cd?e", "c", 2}, {"a\\.b+c", "a.b", 0},
      {"ab*cde", "cde", none}, {"(?:x|y)zz\\bq", "zz", 1}, {"\\d+ items", " items", none}, {"ab|cd", "", 0},
      {"a(b|c)d", "a", 0}, {"[x]", "", 0}, {"\\w\\s", "", 0},
  };
  for (const auto& c : cases) {
    size_t offset = 0;
    EXPECT_EQ(requiredLiteral(c.pattern, offset), c.literal) << c.pattern;
    if (*c.literal) {
      EXPECT_EQ(offset, c.offset) << c.pattern;
    }
  }
}

TEST(Regex, MostLineFeeds) {
  const size_t none = static_cast<size_t>(-1);
  struct Case {
    const char* pattern;
    size_t lineFeeds;
  } cases[] = {
      {"a.*b", 0}, {"x+y*", 0}, {"a\\nb", 1}, {"a\\sb.*c\\s", 2}, {"(a|\\n\\n)x", 2}, {"[^x]", 1},
      {"(?:\\s.){3}", 3}, {"\\s?", 1}, {"a(?!b)", 1}, {"a(?=\\n)", 1}, {"[\\s\\S]{2}", 2}, {"a\nb", 1},
      {"\\s*", none}, {"[^x]+", none}, {"(a\\n)*", none}, {"(a)\\1", none}, {"a(", none},
  };
  for (const auto& c : cases) EXPECT_EQ(patternMaxLineFeeds(c.pattern), c.lineFeeds) << c.pattern;
}

// Plain substring search for literal patterns, and searching only from the line where the text last changed must find exactly what a search of
// the whole text finds, as long as nothing was found before; likewise searching only the last
// few bytes for a pattern of bounded length, even one that crosses lines, and only the last
// k + 1 lines for a pattern that can take in at most k line feeds.
TEST(Regex, ResumedSearchEqualsWholeSearch) {
  std::mt19937 rng(42);
  const std::string alphabet = "ab\n x.";
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1), grow(0, 4);
  for (const char* p : {"ab", "a x", "^a", "b$", "\\bab\\b", "a.*b", "a(?=b)", "a(?!b)", "(ab|ba)+x", "a\\B", "[ab]{3}",
                        "x\\w+a?$", "a[.]b", "^$", "a\nb", "[^a]b", "\\sx\\b", "(a|b\nx)?ba", "\\n\\n", "x(?=\\s)",
                        "a\\Wb$", "a.*\n.*b", "x\\s.*a", "(ab|ba)+\\n?x", "b.*\n$", "a.+\\n\\s\\w*x",
                        "(?=.*\\nb)a", "a(?!.*\\n.*b)", "\\s.\\s.\\s", "^a.*\\n.*x", "ab.*x", "x.*ab\n", "(a|b)xa+b",
                        "a\\.b", "[ab]ab+", "^ba", "b\\bx a", "(?!ab)x.a"}) {
    SearchRegex pattern = compileSearchRegex(p);
    const std::regex reference(p);
    ASSERT_TRUE(pattern.withinLine || pattern.maxLength < 10 || pattern.maxLineFeeds < 4) << p;
    for (int round = 0; round < 400; ++round) {
      std::string settled;
      size_t absentBefore = 0;  // as expect keeps it: where the required bytes were last not found
      for (int step = 0; step < 30; ++step) {
        size_t unchanged = settled.size();
        for (size_t n = grow(rng); n > 0; --n) settled += alphabet[pick(rng)];
        std::string text = settled;
        for (size_t n = grow(rng); n > 0; --n) text += alphabet[pick(rng)];  // provisional end
        bool whole = std::regex_search(text, reference);
        ASSERT_EQ(searchRegex(pattern, text), whole) << p << " in " << testing::PrintToString(text);
        ASSERT_EQ(searchRegex(pattern, text, resumeSearchAt(pattern, text, unchanged)), whole)
            << p << " in " << testing::PrintToString(text) << " unchanged " << unchanged;
        const size_t from = narrowSearch(pattern, text, resumeSearchAt(pattern, text, unchanged), absentBefore);
        ASSERT_EQ(from != std::string::npos && searchRegex(pattern, text, from), whole)
            << p << " in " << testing::PrintToString(text) << " absent before " << absentBefore;
        if (from == std::string::npos && settled.size() >= pattern.required.size())
          absentBefore = settled.size() - pattern.required.size() + 1;
        if (whole) break;
      }
    }
  }
}

// A search still running at its deadline is given up (its child ended), however long it would
// take; one that finishes in time answers as an unbounded search would, in place or in a child.
TEST(Regex, SearchGivesUpAtItsDeadline) {
  using std::chrono::milliseconds;
  const std::string line(200000, 'x');  // 'x.*y' takes minutes over it: each start scans to the end
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(searchRegexUntil(compileSearchRegex("x.*y"), line, 0, start + milliseconds(300)), SearchResult::kTimedOut);
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_GE(spent, milliseconds(300));
  EXPECT_LT(spent, milliseconds(5000));
  const auto later = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  for (const char* p : {"xy", "x{3}y", "(x)\\1y", "^x+$"}) {
    const std::string text = std::string(5000, 'x') + "y";
    for (const std::string& t : {text, text.substr(0, 100)}) {
      const bool whole = std::regex_search(t, std::regex(p));
      EXPECT_EQ(searchRegexUntil(compileSearchRegex(p), t, 0, later), whole ? SearchResult::kFound : SearchResult::kNotFound)
          << p << " over " << t.size();
    }
  }
}
