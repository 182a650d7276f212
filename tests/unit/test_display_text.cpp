#include <gtest/gtest.h>

#include <string>

#include "text/DisplayText.h"

using namespace kor;

TEST(DisplayText, OddBytesEscapedPrintableTextKept) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"build", "build"},
      {"bob's db", "bob's db"},
      {"caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x98\x80", "caf\xc3\xa9 \xe6\x97\xa5\xf0\x9f\x98\x80"},  // é 日 😀
      {"a\nb\tc\rd", "a\\nb\\tc\\rd"},
      {"\x1b]0;owned\x07", "\\x1b]0;owned\\x07"},
      {std::string("a\0b\x7f", 4), "a\\x00b\\x7f"},
      {"\xc2\x9b" "2J", "\\xc2\\x9b2J"},             // C1 CSI, as UTF-8
      {"\x9b" "2J", "\\x9b2J"},                      // C1 CSI, as a lone byte
      {"\xc3\x28 \xe2\x82 \xc0\xaf \xed\xa0\x80", "\\xc3( \\xe2\\x82 \\xc0\\xaf \\xed\\xa0\\x80"},  // malformed
      {"a\\nb", "a\\\\nb"},                          // a real backslash stays apart from an escape
  };
  for (const auto& c : cases) EXPECT_EQ(printableText(c.in), c.out) << c.out;
}
