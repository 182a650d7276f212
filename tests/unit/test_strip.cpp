#include <gtest/gtest.h>

#include <random>
#include <regex>
#include <string>

#include "text/Strip.h"

using namespace kor;

namespace {

// The three whole-text replacements the scanner must reproduce, then the carriage returns.
std::string stripWithRegex(const std::string& text) {
  static const std::regex osc("\x1b\\][^\x07\x1b]*(\x07|\x1b\\\\)");
  static const std::regex csi("\x1b\\[[0-9;?]*[ -/]*[@-~]");
  static const std::regex two("\x1b[@-Z\\\\-_]");
  std::string out = std::regex_replace(text, osc, "");
  out = std::regex_replace(out, csi, "");
  out = std::regex_replace(out, two, "");
  std::string result;
  for (char c : out)
    if (c != '\r') result += c;
  return result;
}

// Bytes that take part in some sequence, with ordinary text and high bytes mixed in.
std::string randomOutput(std::mt19937& rng, size_t maxLength) {
  static const std::string alphabet =
      "\x1b\x1b\x1b\x1b[[]]\x07\\\\;?09 /!@AMZ_^`~m\r\n:>(c=7P\x9b\xff\x80x" + std::string(1, '\0');
  std::uniform_int_distribution<size_t> length(0, maxLength);
  std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
  std::string s(length(rng), ' ');
  for (char& c : s) c = alphabet[pick(rng)];
  return s;
}

}  // namespace

TEST(Strip, KnownSequences) {
  const std::string E = "\x1b";
  struct Case {
    std::string in, out;
  } cases[] = {
      {E + "[1;31mred" + E + "[0m", "red"},
      {E + "[?2004hx", "x"},
      {E + "]0;title\x07" "a" + E + "]133;A" + E + "\\b", "ab"},
      {E + "]0;title and text", "0;title and text"},                   // unterminated OSC: only ESC ]
      {E + "]0;a" + E + "[1mb", "0;ab"},                                // ESC ends the OSC body unterminated
      {E + "[>c" + E + "[38:5:1m", E + "[>c" + E + "[38:5:1m"},          // parameters outside 0-9;?
      {E + "(B" + E + "=" + E + "7" + E + "c" + E + "M.", E + "(B" + E + "=" + E + "7" + E + "c."},
      {E + "Pdata" + E + "\\", "data"},                                 // DCS: only the two-byte ends go
      {"line1\r\nline2\r", "line1\nline2"},
      {"50%\r100%", "50%100%"},
      {E + "[3", E + "[3"},                                             // split sequence stays
      {"1m", "1m"},
      {"\x9b" "31m\xff\x80", "\x9b" "31m\xff\x80"},                     // C1 and high bytes stay
      {E + E + "]x\x07" "]y\x07", "y\x07"},                            // the OSC pass does not rescan
      {E + E + "[1mM", ""},                                             // CSI removal joins ESC M
      {std::string("a\0b", 3), std::string("a\0b", 3)},
      {"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(stripAnsi(c.in), c.out) << testing::PrintToString(c.in);
    EXPECT_EQ(stripWithRegex(c.in), c.out) << "reference disagrees: " << testing::PrintToString(c.in);
  }
}

TEST(Strip, EqualsTheRegexReplacementsOnGeneratedInputs) {
  std::mt19937 rng(20261210);
  for (int i = 0; i < 100000; ++i) {
    std::string in = randomOutput(rng, 32);
    ASSERT_EQ(stripAnsi(in), stripWithRegex(in)) << testing::PrintToString(in);
  }
}

TEST(Strip, PiecewiseFeedingGivesTheWholeTextResult) {
  std::mt19937 rng(7);
  for (int i = 0; i < 8000; ++i) {
    std::string in = randomOutput(rng, 40);
    AnsiStripper stripper;
    size_t pos = 0;
    while (pos < in.size()) {
      size_t n = std::uniform_int_distribution<size_t>(0, 5)(rng);
      n = std::min(n, in.size() - pos);
      stripper.feed(in.data() + pos, n);
      pos += n;
      const std::string expected = stripWithRegex(in.substr(0, pos));
      ASSERT_EQ(stripper.text(), expected) << testing::PrintToString(in) << " after " << pos;
      ASSERT_LE(stripper.settledSize(), expected.size());
    }
  }
}

TEST(Strip, HugeUnterminatedOscAndOneLongLine) {
  std::string in = "\x1b]0;";
  in.append(64u << 20, 'x');
  std::string out = stripAnsi(in);
  ASSERT_EQ(out.size(), in.size() - 2);
  EXPECT_EQ(out.compare(0, 3, "0;x"), 0);

  // Fed in pieces, the open sequence is carried along without rescanning what came before.
  AnsiStripper stripper;
  stripper.feed("\x1b[1mok\x1b]2;");
  for (int i = 0; i < 64; ++i) stripper.feed(std::string(1 << 16, 'y'));
  EXPECT_EQ(stripper.settledSize(), 2u);
  EXPECT_EQ(stripper.text().size(), 2u + 2 + (64u << 16));
  stripper.feed("\x07" "done");
  EXPECT_EQ(stripper.text(), "okdone");
}
