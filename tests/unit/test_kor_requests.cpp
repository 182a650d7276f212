#include <gtest/gtest.h>

#include <string>

#include "TerminalInfo.pb.h"
#include "kor/Requests.h"

using namespace kor;

TEST(KorRequests, HeaderChecks) {
  struct Case {
    uint8_t type;
    uint32_t length;
    bool ok;
  } cases[] = {
      {1, 0, true}, {1, 64u << 20, true}, {1, (64u << 20) + 1, false}, {7, (64u << 20) + 1, false},
      {3, 8, true}, {3, 7, false},       {6, 8, true},                 {6, 9, false},
      {4, 0, true}, {4, 1, false},       {5, 0, true},                 {5, 3, false},
      {2, 8, true}, {0, 0, false},       {8, 0, false},                {0x41, 0, false},
      {9, 13, true}, {9, 8, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(checkRequestHeader(c.type, c.length).empty(), c.ok) << int(c.type) << " " << c.length;
  EXPECT_EQ(checkRequestHeader(99, 0), "unknown request type 99");
}

TEST(KorRequests, ResizeAppliesOnlyWhatTheTerminalCanTake) {
  auto payload = [](int rows, int cols) {
    TerminalInfo info;
    info.set_rows(rows);
    info.set_columns(cols);
    info.set_pixelwidth(0);
    info.set_pixelheight(0);
    return info.SerializeAsString();
  };
  TermSize size;
  EXPECT_EQ(applyResize(payload(30, 100), size), "");
  EXPECT_EQ(size.rows, 30);
  EXPECT_EQ(size.cols, 100);
  for (auto bad : {payload(-1, 80), payload(24, 65536)}) {
    EXPECT_NE(applyResize(bad, size), "");
    EXPECT_EQ(size.rows, 30);  // unchanged
  }
  EXPECT_NE(applyResize("\xff\xff", size), "");
  TerminalInfo rowsOnly;
  rowsOnly.set_rows(50);
  EXPECT_EQ(applyResize(rowsOnly.SerializeAsString(), size), "");
  EXPECT_EQ(size.rows, 50);
  EXPECT_EQ(size.cols, 100);
}
