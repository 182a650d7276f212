#include <gtest/gtest.h>

#include <string>

#include "text/TerminalQueries.h"

using namespace kor;

namespace {

std::string filtered(const std::string& text, size_t split) {
  QueryFilter filter;
  std::string out = filterQueries(filter, text.substr(0, split));
  out += filterQueries(filter, text.substr(split));
  return out + releaseQueries(filter);
}

}  // namespace

TEST(TerminalQueries, RemovesQueriesAndNothingElseWhereverTheChunksSplit) {
  struct Case {
    const char* name;
    std::string in;
    std::string out;
  } cases[] = {
      {"plain text and settings", "a\x1b[1;31mb\x1b[0m\x1b[?1049h\x1b[2J\r\n", "a\x1b[1;31mb\x1b[0m\x1b[?1049h\x1b[2J\r\n"},
      {"cursor position and status reports", "x\x1b[6ny\x1b[5n\x1b[?6n\x1b[?26nz", "xyz"},
      {"device attributes", "\x1b[c\x1b[0c\x1b[>c\x1b[>0c\x1b[=c\x1bZ.", "."},
      {"not device attributes", "\x1b[?1;2c\x1b[>4;1m\x1b[>1n", "\x1b[?1;2c\x1b[>4;1m\x1b[>1n"},
      {"mode and setting requests", "\x1b[?2004$p\x1b[4$p\x1bP$qm\x1b\\\x1bP$q\"p\x07|", "|"},
      {"terminal name and capabilities", "\x1b[>q\x1b[>0q\x1bP+q544e\x1b\\\x1b[0 q", "\x1b[0 q"},
      {"window and title reports", "\x1b[14t\x1b[18;0t\x1b[21t\x1b[22;0t\x1b[8;24;80t", "\x1b[22;0t\x1b[8;24;80t"},
      {"colour queries", "\x1b]11;?\x07\x1b]10;?\x1b\\\x1b]4;1;?\x07\x1b]52;c;?\x07k", "k"},
      {"colour settings", "\x1b]11;#000000\x07\x1b]4;1;rgb:ff/00/00\x1b\\\x1b]0;title?\x07",
       "\x1b]11;#000000\x07\x1b]4;1;rgb:ff/00/00\x1b\\\x1b]0;title?\x07"},
      {"keyboard and graphics queries", "\x1b[?u\x1b[?4m\x1b[?1;1S\x1b[>1u\x1b[=1;1u", "\x1b[>1u\x1b[=1;1u"},
      {"answerback request", "a\x05" "b", "ab"},
      {"controls inside a query still act", "\x1b[6\rn.", "\r."},
      {"query broken off by the next sequence", "\x1b]11;?\x1b[1mB", "\x1b[1mB"},
      {"cancelled sequence stays", "\x1b[6\x18n", "\x1b[6\x18n"},
      {"long strings pass as they come", "\x1b]52;c;" + std::string(2000, 'A') + "\x07z", "\x1b]52;c;" + std::string(2000, 'A') + "\x07z"},
      {"long string ended by ST", "\x1bPq" + std::string(600, '#') + "\x1b\\\x1b[6n", "\x1bPq" + std::string(600, '#') + "\x1b\\"},
      {"an escape full of controls passes", "\x1b" + std::string(300, '\n') + "c\x1b[c", "\x1b" + std::string(300, '\n') + "c"},
      {"bytes that are not text", std::string("\0\xff\xe4\xb8\xad", 5), std::string("\0\xff\xe4\xb8\xad", 5)},
  };
  for (const Case& c : cases) {
    for (size_t split = 0; split <= c.in.size(); ++split)
      ASSERT_EQ(filtered(c.in, split), c.out) << c.name << " split at " << split;
    QueryFilter byteByByte;
    std::string out;
    for (char ch : c.in) out += filterQueries(byteByByte, std::string(1, ch));
    EXPECT_EQ(out + releaseQueries(byteByByte), c.out) << c.name;
  }
}

TEST(TerminalQueries, ReleaseHandsBackAnOpenSequence) {
  QueryFilter filter;
  EXPECT_EQ(filterQueries(filter, "ab\x1b[6"), "ab");
  EXPECT_EQ(releaseQueries(filter), "\x1b[6");
  EXPECT_EQ(filterQueries(filter, "n"), "n");  // what follows is passed on as it comes
}

TEST(TerminalQueries, ReplayFiltersHistoryAndPassesLiveOutput) {
  QueryFilter filter;  // output before 16 is history
  EXPECT_EQ(replayedOutput(filter, "ab\x1b[6ncd\x1b[", 10, 16), "abcd");          // 0..9
  EXPECT_EQ(replayedOutput(filter, "cx\x1b[6n\x1b[cy", 20, 16), "x\x1b[cy");     // 10..19, live from "\x1b[c"
  EXPECT_EQ(replayedOutput(filter, "\x1b[6n", 24, 16), "\x1b[6n");
  QueryFilter split;  // a query begun in history and ended live reaches the terminal whole
  EXPECT_EQ(replayedOutput(split, "ab\x1b[", 4, 4), "ab");
  EXPECT_EQ(replayedOutput(split, "6nz", 7, 4), "\x1b[6nz");
}
