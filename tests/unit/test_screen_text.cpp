#include <gtest/gtest.h>

#include <string>

#include "text/ScreenText.h"

using namespace kor;

namespace {

ScreenImage sample() {
  ScreenImage image;
  image.rows = 3;
  image.cols = 10;
  image.cursorRow = 2;
  image.cursorCol = 4;
  image.lines = {"$ ls", "", "\x1b[0;31mr\xc3\xa9\x1b[0m \"q\"\\"};
  return image;
}

}  // namespace

TEST(ScreenText, RowsAndJson) {
  ScreenImage image = sample();
  EXPECT_EQ(screenRows(image), "$ ls\n\n\x1b[0;31mr\xc3\xa9\x1b[0m \"q\"\\\n");
  EXPECT_EQ(screenJson(image),
            "{\"rows\":3,\"cols\":10,\"cursor\":{\"row\":2,\"col\":4},\"alternate\":false,\"lines\":[\"$ ls\",\"\","
            "\"\\u001b[0;31mr\xc3\xa9\\u001b[0m \\\"q\\\"\\\\\"]}\n");
  image.lines = {"\xff", "", ""};  // not UTF-8: replaced, never an exception
  EXPECT_NE(screenJson(image).find("\"\xef\xbf\xbd\""), std::string::npos);
}

TEST(ScreenText, DrawingPlacesRowsAndCursor) {
  ScreenImage image = sample();
  EXPECT_EQ(screenDrawing(image),
            "\x1b[0m\x1b[H\x1b[2J\x1b[1;1H$ ls\x1b[3;1H\x1b[0;31mr\xc3\xa9\x1b[0m \"q\"\\\x1b[0m\x1b[3;5H\x1b[?25h");
  image.alternate = true;
  image.cursorVisible = false;
  const std::string drawing = screenDrawing(image);
  EXPECT_EQ(drawing.rfind("\x1b[?1049h\x1b[0m\x1b[H\x1b[2J", 0), 0u);
  EXPECT_EQ(drawing.substr(drawing.size() - 6), "\x1b[?25l");
}
