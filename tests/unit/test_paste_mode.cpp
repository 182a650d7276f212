#include <gtest/gtest.h>

#include <string>

#include "text/PasteMode.h"

using namespace kor;

TEST(PasteMode, PasteOnJudgement) {
  const std::string on = "\x1b[?2004h", off = "\x1b[?2004l";
  EXPECT_TRUE(judgePasteOn(""));
  EXPECT_TRUE(judgePasteOn("$ " + on));
  EXPECT_FALSE(judgePasteOn(on + "ls\r\n" + off));
  EXPECT_TRUE(judgePasteOn(off + "out\r\n" + on + "$ "));
  EXPECT_FALSE(judgePasteOn(on + off + "x" + on.substr(0, 7)));
}

TEST(PasteMode, ParkedNeedsOnAfterTheFirstOff) {
  const std::string on = "\x1b[?2004h", off = "\x1b[?2004l";
  struct Case {
    std::string text;
    bool parked;
  };
  const Case cases[] = {
      {on + "$ ", false},
      {on + off, false},
      {on + off + "> " + on, true},
      {on + off + "out" + off, false},
      {off + "x" + off + on, true},
  };
  for (const Case& c : cases) {
    // Fed in every split, the answer must equal the answer for the whole text.
    for (size_t step = 1; step <= c.text.size(); ++step) {
      ParkedSearch search;
      bool last = false;
      for (size_t n = 0; n <= c.text.size(); n += step) last = search.scan(c.text.substr(0, n));
      last = search.scan(c.text);
      EXPECT_EQ(last, c.parked) << step;
    }
  }
}
