#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/Wire.h"
#include "kor/Screen.h"

using namespace kor;

namespace {

ScreenImage shown(const std::vector<std::string>& chunks, int rows = 4, int cols = 10, bool attributes = false) {
  Screen screen = makeScreen(rows, cols);
  for (const std::string& chunk : chunks) feedScreen(screen, chunk.data(), chunk.size());
  return captureScreen(screen, attributes);
}

std::vector<std::string> lines(std::initializer_list<const char*> rows) { return {rows.begin(), rows.end()}; }

}  // namespace

TEST(Screen, RendersWhatTheOutputLeavesOnTheScreen) {
  struct Case {
    const char* name;
    std::vector<std::string> chunks;
    std::vector<std::string> rows;
    int cursorRow, cursorCol;
  } cases[] = {
      {"carriage return overwrites", {"abcdef\rXY"}, lines({"XYcdef", "", "", ""}), 0, 2},
      {"cursor addressing and erase", {"aaaaaaaaaa\r\n", "bbbb\x1b[1;3H\x1b[K", "\x1b[3;5Hhi"},
       lines({"aa", "bbbb", "    hi", ""}), 2, 6},
      {"wrap and scroll", {"0123456789abc\r\nline2\r\nline3\r\nline4"}, lines({"abc", "line2", "line3", "line4"}), 3, 5},
      {"blanks before text kept, after it trimmed", {"   x   \r\n\x1b[5C y"}, lines({"   x", "      y", "", ""}), 1, 7},
      {"wide character once, combining kept", {"\xe4\xb8\xad" "e\xcc\x81|\r\n\xf0\x9f\x99\x82!"},
       lines({"\xe4\xb8\xad" "e\xcc\x81|", "\xf0\x9f\x99\x82!", "", ""}), 1, 3},
      {"sequence split between chunks", {"ab\x1b[", "2", "Dz"}, lines({"zb", "", "", ""}), 0, 1},
      {"repeat", {"ab\x1b[3b|\r\n\xe2\x94\x80\x1b[2b|"}, lines({"abbbb|", "\xe2\x94\x80\xe2\x94\x80\xe2\x94\x80|", "", ""}), 1, 4},
      {"repeat with nothing to repeat", {"\x1b[b\x1b[2J\x1b[3bok\r\n\xcc\x81\x1b[5b|\x1b" "c\x1b[4bz"}, lines({"z", "", "", ""}), 0, 1},
      {"repeat after a combining mark", {"e\xcc\x81\x1b[2b|"}, lines({"e\xcc\x81\xcc\x81\xcc\x81|", "", "", ""}), 0, 2},
      {"queries leave no trace", {"q\x1b[6n\x1b[c\x1b[>c\x1b]11;?\x07\x1bP$q\"p\x1b\\!"}, lines({"q!", "", "", ""}), 0, 2},
  };
  for (const Case& c : cases) {
    ScreenImage image = shown(c.chunks);
    EXPECT_EQ(image.lines, c.rows) << c.name;
    EXPECT_EQ(image.cursorRow, c.cursorRow) << c.name;
    EXPECT_EQ(image.cursorCol, c.cursorCol) << c.name;
    EXPECT_EQ(image.rows, 4);
    EXPECT_EQ(image.cols, 10);
    EXPECT_FALSE(image.alternate) << c.name;
  }
}

TEST(Screen, BrokenUtf8ShowsTheSameWhereverTheReadsSplit) {
  const std::string text = "a\xe4\xb8|\xff\xe4\xb8\xad\xcc\x81\xe4\x1b[1m!\xb8\r\n\xf0\x9f";
  const std::string want = "a\xef\xbf\xbd|\xef\xbf\xbd\xe4\xb8\xad\xcc\x81\xef\xbf\xbd!\xef\xbf\xbd";
  for (size_t split = 0; split <= text.size(); ++split) {
    ScreenImage image = shown({text.substr(0, split), text.substr(split)}, 3, 20);
    ASSERT_EQ(image.lines[0], want) << "split at " << split;
    ASSERT_EQ(image.lines[1], "") << "split at " << split;  // an unfinished sequence shows nothing yet
  }
}

TEST(Screen, AlternateScreenComesAndGoes) {
  Screen screen = makeScreen(3, 8);
  std::string shell = "$ vi\r\n";
  feedScreen(screen, shell.data(), shell.size());
  std::string enter = "\x1b[?1049h\x1b[H\x1b[2Jfile\x1b[3;1H:q\x1b[?25l";
  feedScreen(screen, enter.data(), enter.size());
  ScreenImage full = captureScreen(screen, false);
  EXPECT_TRUE(full.alternate);
  EXPECT_FALSE(full.cursorVisible);
  EXPECT_EQ(full.lines, lines({"file", "", ":q"}));
  std::string leave = "\x1b[?25h\x1b[?1049l$ ";
  feedScreen(screen, leave.data(), leave.size());
  ScreenImage back = captureScreen(screen, false);
  EXPECT_FALSE(back.alternate);
  EXPECT_TRUE(back.cursorVisible);
  EXPECT_EQ(back.lines, lines({"$ vi", "$", ""}));
  EXPECT_EQ(back.cursorCol, 2);
}

TEST(Screen, AttributesAsSgrPerRow) {
  struct Case {
    const char* input;
    const char* row;  // the first row, with attributes
  } cases[] = {
      {"plain", "plain"},
      {"\x1b[31mred\x1b[0m ok", "\x1b[0;31mred\x1b[0m ok"},
      {"\x1b[1;4;92;48;5;200mX", "\x1b[0;1;4;92;48;5;200mX\x1b[0m"},
      {"\x1b[38;2;1;2;3mT\x1b[7m \x1b[m", "\x1b[0;38;2;1;2;3mT\x1b[0;7;38;2;1;2;3m \x1b[0m"},  // a reversed blank shows
      {"a\x1b[44m   \x1b[m   ", "a\x1b[0;44m   \x1b[0m"},  // coloured blanks kept, plain ones trimmed
  };
  for (const Case& c : cases) {
    ScreenImage image = shown({c.input}, 2, 20, true);
    EXPECT_EQ(image.lines[0], c.row) << c.input;
    EXPECT_EQ(shown({c.input}, 2, 20, false).lines[0].find('\x1b'), std::string::npos) << c.input;
  }
}

TEST(Screen, ShrinkingBelowTheScrollingMarginsScrollsTheWholeScreen) {
  Screen screen = makeScreen(11, 18);
  std::string margins = "\x1b[7;10r\x1b[2;3H";
  feedScreen(screen, margins.data(), margins.size());
  resizeScreen(screen, 2, 8);
  ScreenImage moved = captureScreen(screen, false);
  EXPECT_EQ(moved.cursorRow, 1);
  EXPECT_EQ(moved.cursorCol, 2);
  std::string text = "one\r\ntwo\r\nthree\r\n\x1b[L\x1bM";
  feedScreen(screen, text.data(), text.size());
  EXPECT_EQ(captureScreen(screen, false).lines, lines({"three", ""}));
}

TEST(Screen, ACursorSavedBeyondAShrunkenScreenComesBackInside) {
  struct Case {
    const char* save;
    const char* restore;
  } cases[] = {
      {"\x1b[9;15H\x1b" "7", "\x1b" "8"},
      {"\n\n\n\x1b[?1049h\x1b[4h", "\x1b" "8"},
      {"\x1b[9;15H\x1b[?1049h", "\x1b[?1049l"},
      {"\x1b[3;18H\x1b[?1048h", "\x1b[?1048l"},
  };
  for (const Case& c : cases) {
    Screen screen = makeScreen(10, 18);
    feedScreen(screen, c.save, std::strlen(c.save));
    resizeScreen(screen, 2, 3);
    feedScreen(screen, c.restore, std::strlen(c.restore));
    ScreenImage before = captureScreen(screen, false);
    EXPECT_LT(before.cursorRow, 2) << c.save;
    EXPECT_LT(before.cursorCol, 3) << c.save;
    std::string more = "$$\x1b[@\x1b[L$";
    feedScreen(screen, more.data(), more.size());
    EXPECT_EQ(captureScreen(screen, false).lines.size(), 2u);
  }
}

TEST(Screen, TheCursorStaysOnAShrunkenScreen) {
  // Rows of text below the cursor: the shorter screen keeps them and pushes the cursor's row
  // off the top.
  for (const char* after : {"abc", "\x1b[Lx\x1b[Mabc\x1bMxx\x1b[2K\x1b[1J", "\x1b" "8\x1b[@\x1b[P"}) {
    Screen screen = makeScreen(26, 71);
    std::string text;
    for (int i = 0; i < 30; ++i) text += "line " + std::to_string(i) + "\r\n";
    text += "\x1b[11;5H";
    feedScreen(screen, text.data(), text.size());
    resizeScreen(screen, 14, 75);
    feedScreen(screen, after, std::strlen(after));
    ScreenImage image = captureScreen(screen, false);
    EXPECT_GE(image.cursorRow, 0) << after;
    EXPECT_LT(image.cursorRow, 14) << after;
    EXPECT_EQ(image.lines.size(), 14u) << after;
  }
}

TEST(Screen, ASequenceWithManyParametersKeepsTheFirstSixteen) {
  std::string params;
  for (int i = 0; i < 300; ++i) params += ";" + std::to_string(i % 10);
  struct Case {
    std::string output;
    std::vector<std::string> lines;
  } cases[] = {
      // (blink, reverse and strike-through come after the 16th)
      {"\x1b[4;22;23;24;25;27;28;29;39;49;54;55;59;2;2;1;5;7;9mhi\x1b[m", {"\x1b[0;1mhi\x1b[0m", "", ""}},
      {"\x1b[" + std::string(40, ':') + "\x1f" "ok", {"k", "", ""}},  // (the 'o' ends it)
      {"a\x1b[2" + params + "Hb", {"a", "b", ""}},
  };
  for (const Case& c : cases) EXPECT_EQ(shown({c.output}, 3, 10, true).lines, c.lines) << c.output;
}

TEST(Screen, ResizeChangesTheRows) {
  Screen screen = makeScreen(4, 10);
  std::string text = "one\r\ntwo\r\nthree\r\nfour";
  feedScreen(screen, text.data(), text.size());
  resizeScreen(screen, 2, 3);
  ScreenImage image = captureScreen(screen, false);
  EXPECT_EQ(image.rows, 2);
  EXPECT_EQ(image.cols, 3);
  ASSERT_EQ(image.lines.size(), 2u);
  EXPECT_EQ(image.lines[1], "fou");
  resizeScreen(screen, 0, -5);  // a nonsense size still leaves a screen
  EXPECT_EQ(captureScreen(screen, false).rows, 1);
}

TEST(Screen, ASingleColumnTerminalTakesWideCharacters) {
  for (bool resized : {false, true}) {
    Screen screen = makeScreen(resized ? 4 : 3, resized ? 10 : 1);
    if (resized) resizeScreen(screen, 3, 1);
    std::string text = "a\xe4\xb8\xad\xcc\x81" "b\r\n\xe4\xb8\xad";
    feedScreen(screen, text.data(), text.size());
    ScreenImage image = captureScreen(screen, false);
    EXPECT_EQ(image.lines, lines({"\xe4\xb8\xad\xcc\x81", "b", "\xe4\xb8\xad"})) << resized;
  }
}
