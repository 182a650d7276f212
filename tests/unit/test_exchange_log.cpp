#include <gtest/gtest.h>

#include <string>

#include "base/Wire.h"
#include "kor/ExchangeLog.h"

using namespace kor;

TEST(ExchangeLog, RecordsByCursorAndDropsTheOldest) {
  ExchangeLog log;
  log.limit = 6;
  appendExchange(log, kSentMark, "ls\r", 3);
  appendExchange(log, kReceivedMark, "a\n", 2);
  std::string reply = exchangeReadReply(log, -1);
  EXPECT_EQ(decodeInt64(reply.data()), 2);
  EXPECT_EQ(reply.substr(8), std::string("\0>\0\0\0\3ls\r<\0\0\0\2a\n", 16));

  appendExchange(log, kReceivedMark, "bcd", 3);  // 8 bytes > 6: the first record goes
  EXPECT_EQ(log.first, 1);
  reply = exchangeReadReply(log, 0);
  EXPECT_EQ(reply[8], 1);  // gap
  EXPECT_EQ(reply.substr(9), std::string("<\0\0\0\2a\n<\0\0\0\3bcd", 15));
  reply = exchangeReadReply(log, 2);
  EXPECT_EQ(reply.substr(9), std::string("<\0\0\0\3bcd", 8));
  reply = exchangeReadReply(log, 7);
  EXPECT_EQ(decodeInt64(reply.data()), 3);
  EXPECT_EQ(reply.size(), 9u);

  // A record bigger than the whole limit is still kept, alone.
  appendExchange(log, kSentMark, "0123456789", 10);
  EXPECT_EQ(log.records.size(), 1u);
}
