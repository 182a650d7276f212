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
  std::string reply = flatten(exchangeReadReply(log, -1));
  EXPECT_EQ(decodeInt64(reply.data()), 2);
  EXPECT_EQ(reply.substr(8), std::string("\0>\0\0\0\3ls\r<\0\0\0\2a\n", 16));

  appendExchange(log, kReceivedMark, "bcd", 3);  // 8 bytes > 6: the first record goes
  EXPECT_EQ(log.first, 1);
  reply = flatten(exchangeReadReply(log, 0));
  EXPECT_EQ(reply[8], 1);  // gap
  EXPECT_EQ(reply.substr(9), std::string("<\0\0\0\2a\n<\0\0\0\3bcd", 15));
  reply = flatten(exchangeReadReply(log, 2));
  EXPECT_EQ(reply.substr(9), std::string("<\0\0\0\3bcd", 8));
  reply = flatten(exchangeReadReply(log, 7));
  EXPECT_EQ(decodeInt64(reply.data()), 3);
  EXPECT_EQ(reply.size(), 9u);

  // Data in two parts is one record.
  appendExchange(log, kReceivedMark, "ef", 2, "g", 1);
  EXPECT_EQ(flatten(exchangeReadReply(log, 3)).substr(9), std::string("<\0\0\0\3efg", 8));

  // A record bigger than the whole limit is still kept, alone.
  appendExchange(log, kSentMark, "0123456789", 10);
  EXPECT_EQ(log.records.size(), 1u);
}
