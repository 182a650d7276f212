#include <gtest/gtest.h>

#include <string>

#include "text/Utf8.h"

using namespace kor;

namespace {

const std::string kReplacement = "\xEF\xBF\xBD";

}  // namespace

TEST(Utf8, ValidTextIsKeptAndIllFormedSubsequencesAreReplacedOnceEach) {
  struct Case {
    std::string bytes;
    bool valid;
    std::string text;
  };
  const std::string r = kReplacement;
  const Case cases[] = {
      {"", true, ""},
      {std::string("a\0b\x1b[0m\r\n", 8), true, std::string("a\0b\x1b[0m\r\n", 8)},
      {"\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF", true, "\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"},
      {"a\xFF" "b", false, "a" + r + "b"},
      {"\x80\x80", false, r + r},                          // lone continuation bytes, one each
      {"\xC0\xAF", false, r + r},                          // overlong lead: never valid
      {"\xE0\x80\xAF", false, r + r + r},                  // overlong three-byte form
      {"\xED\xA0\x80", false, r + r + r},                  // a surrogate
      {"\xF4\x90\x80\x80", false, r + r + r + r},          // past U+10FFFF
      {"\xE2\x82" "A", false, r + "A"},                    // a cut sequence is one replacement
      {"x\xF0\x9F\x98", false, "x" + r},                   // cut at the end
      {"\xF5\x80", false, r + r},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
    EXPECT_EQ(replaceInvalidUtf8(c.bytes), c.text) << testing::PrintToString(c.bytes);
    EXPECT_TRUE(isValidUtf8(replaceInvalidUtf8(c.bytes)));
  }
}

TEST(Utf8, Base64OfEveryPaddingAndOfHighBytes) {
  EXPECT_EQ(encodeBase64(""), "");
  EXPECT_EQ(encodeBase64("f"), "Zg==");
  EXPECT_EQ(encodeBase64("fo"), "Zm8=");
  EXPECT_EQ(encodeBase64("foo"), "Zm9v");
  EXPECT_EQ(encodeBase64("foob"), "Zm9vYg==");
  EXPECT_EQ(encodeBase64(std::string("\xFF\xFE\x00\x80", 4)), "//4AgA==");
}

TEST(Utf8, CutPointNeverSplitsASequenceAndAlwaysMakesProgress) {
  const std::string text = "ab\xE2\x82\xAC" "cd";  // a, b, the euro sign (3 bytes), c, d
  EXPECT_EQ(utf8CutPoint(text, 100), text.size());
  EXPECT_EQ(utf8CutPoint(text, 2), 2u);
  EXPECT_EQ(utf8CutPoint(text, 3), 2u);  // inside the euro sign: before it
  EXPECT_EQ(utf8CutPoint(text, 4), 2u);
  EXPECT_EQ(utf8CutPoint(text, 5), 5u);
  EXPECT_EQ(utf8CutPoint("\xE2\x82\xAC", 2), 2u);  // a limit inside the first character still moves on
  EXPECT_EQ(utf8CutPoint("\x80\x80\x80\x80\x80", 4), 4u);
}
