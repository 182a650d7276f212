#include <gtest/gtest.h>

#include <climits>

#include "base/StatusRecord.h"

using namespace kor;

TEST(StatusRecord, FieldLookupTakesTheFirstLineWithTheExactKey) {
  EXPECT_EQ(statusFieldIn("headCursor=4096\nconnected=1\n", "headCursor"), 4096);
  EXPECT_EQ(statusFieldIn("headCursor=4096", "headCursor"), 4096);
  EXPECT_EQ(statusFieldIn("headCursor=1\nheadCursor=2\n", "headCursor"), 1);
  EXPECT_EQ(statusFieldIn("xheadCursor=1\n", "headCursor"), -1);
  EXPECT_EQ(statusFieldIn("", "headCursor"), -1);
  EXPECT_EQ(statusFieldIn("headCursor=abc\n", "headCursor"), 0);
  EXPECT_EQ(statusFieldIn("headCursor= -12x\n", "headCursor"), -12);
  EXPECT_EQ(statusFieldIn("headCursor=\n", "headCursor"), 0);
}

TEST(StatusRecord, NumbersSaturate) {
  EXPECT_EQ(parseLongLong("99999999999999999999999"), LLONG_MAX);
  EXPECT_EQ(parseLongLong("-99999999999999999999999"), LLONG_MIN);
  EXPECT_EQ(parseLongLong("9223372036854775807"), LLONG_MAX);
  EXPECT_EQ(parseLongLong("-9223372036854775808"), LLONG_MIN);
  EXPECT_EQ(parseLongLong("+42"), 42);
}

TEST(StatusRecord, MapKeepsTheLastOccurrence) {
  StatusMap map = parseStatusRecord("headCursor=1\nheadCursor=2\n=x\nhost=a=b\nnoequals\n\n");
  EXPECT_EQ(map, (StatusMap{{"", "x"}, {"headCursor", "2"}, {"host", "a=b"}}));
  EXPECT_TRUE(parseStatusRecord("").empty());
}
