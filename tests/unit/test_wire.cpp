#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Wire.h"

using namespace kor;

namespace {

// Built byte by byte here, not with the module's encoders, so an encoder fault cannot hide.
std::string record(char direction, const std::string& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  std::string out(1, direction);
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((n >> shift) & 0xff);
  return out + data;
}

std::string header(long long next, bool gap) {
  std::string out;
  for (int shift = 56; shift >= 0; shift -= 8) out += static_cast<char>((static_cast<unsigned long long>(next) >> shift) & 0xff);
  return out + static_cast<char>(gap ? 7 : 0);
}

}  // namespace

TEST(Wire, FrameEncoding) {
  EXPECT_EQ(encodeFrameHeader(4, 0), std::string("\x04\0\0\0\0", 5));
  EXPECT_EQ(encodeFrameHeader(1, 0x01020304), std::string("\x01\x01\x02\x03\x04", 5));
  EXPECT_EQ(encodeInt64(-1), std::string(8, '\xff'));
  EXPECT_EQ(encodeInt64(258), std::string("\0\0\0\0\0\0\x01\x02", 8));
  EXPECT_EQ(decodeInt64(encodeInt64(-123456789012345LL).data()), -123456789012345LL);
  FrameHeader frame = decodeFrameHeader(std::string("\xc1\xff\x00\x00\x01", 5).data());
  EXPECT_EQ(frame.type, 0xc1);
  EXPECT_EQ(frame.length, 0xff000001u);  // bytes above 0x7f are not sign-extended
}

TEST(Wire, CursorReplyHeader) {
  EXPECT_EQ(encodeCursorReplyHeader(-1, true), std::string(8, '\xff') + '\x01');
  EXPECT_EQ(encodeCursorReplyHeader(258, false), header(258, false).substr(0, 8) + '\0');
  CursorReplyHeader parsed;
  EXPECT_TRUE(decodeCursorReplyHeader(header(1LL << 40, true) + "data", parsed));
  EXPECT_EQ(parsed.nextCursor, 1LL << 40);
  EXPECT_TRUE(parsed.gap);  // any non-zero flag byte
  parsed = CursorReplyHeader{5, true};
  EXPECT_FALSE(decodeCursorReplyHeader(std::string(8, '\x01'), parsed));
  EXPECT_EQ(parsed.nextCursor, 0);
  EXPECT_FALSE(parsed.gap);
}

TEST(Wire, ParsesRecordsCursorAndGap) {
  ExchangeReply reply = parseExchange(header(-2, true) + record('>', "ls\r") + record('<', "") + record('x', "out"));
  EXPECT_EQ(reply.nextCursor, -2);
  EXPECT_TRUE(reply.gap);
  ASSERT_EQ(reply.records.size(), 3u);
  EXPECT_EQ(reply.records[0].direction, '>');
  EXPECT_EQ(reply.records[0].data, "ls\r");
  EXPECT_EQ(reply.records[1].data, "");
  EXPECT_EQ(reply.records[2].direction, 'x');
  EXPECT_EQ(reply.records[2].data, "out");
}

TEST(Wire, ShortOrDamagedExchangePayloads) {
  for (const std::string& shortPayload : {std::string(), std::string(8, '\x01')}) {
    ExchangeReply reply = parseExchange(shortPayload);
    EXPECT_EQ(reply.nextCursor, 0);
    EXPECT_FALSE(reply.gap);
    EXPECT_TRUE(reply.records.empty());
  }
  // A record whose length claims more than remains ends the list; so does a partial header.
  std::string truncated = record('>', "abcdef");
  truncated.resize(truncated.size() - 1);
  EXPECT_EQ(parseExchange(header(5, false) + record('>', "ok") + truncated).records.size(), 1u);
  EXPECT_EQ(parseExchange(header(5, false) + record('>', "ok") + std::string("\x3e\0\0", 3)).records.size(), 1u);
  // A length near 2^32 must not wrap around the bounds check.
  EXPECT_TRUE(parseExchange(header(5, false) + std::string("\x3e\xff\xff\xff\xff", 5) + "x").records.empty());
}

TEST(Wire, EncodedRecordsParseBack) {
  const std::vector<ExchangeRecord> records = {
      {kSentMark, "ls\r"}, {kReceivedMark, ""}, {kReceivedMark, std::string("\0\xff", 2) + std::string(70000, 'x')}};
  std::string payload = encodeCursorReplyHeader(3, false);
  for (const ExchangeRecord& r : records) appendExchangeRecord(payload, r);
  EXPECT_EQ(payload.substr(9, 8), record(kSentMark, "ls\r"));
  ExchangeReply reply = parseExchange(payload);
  ASSERT_EQ(reply.records.size(), records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    EXPECT_EQ(reply.records[i].direction, records[i].direction) << i;
    EXPECT_EQ(reply.records[i].data, records[i].data) << i;
  }
  EXPECT_EQ(reply.nextCursor, 3);
}

TEST(Wire, ScreenReplyRoundTripsAndRefusesTruncation) {
  ScreenImage image;
  image.head = -2;
  image.rows = 3;
  image.cols = 300;
  image.cursorRow = 2;
  image.cursorCol = 299;
  image.cursorVisible = false;
  image.alternate = true;
  image.lines = {"a", "", std::string("\x1b[0m\0z", 6)};
  std::string payload = encodeScreenReply(image);
  ScreenImage back;
  ASSERT_TRUE(decodeScreenReply(payload + "later fields", back));
  EXPECT_EQ(back.head, -2);
  EXPECT_EQ(back.rows, 3);
  EXPECT_EQ(back.cols, 300);
  EXPECT_EQ(back.cursorRow, 2);
  EXPECT_EQ(back.cursorCol, 299);
  EXPECT_FALSE(back.cursorVisible);
  EXPECT_TRUE(back.alternate);
  EXPECT_EQ(back.lines, image.lines);
  for (size_t cut = 0; cut < payload.size(); ++cut)
    EXPECT_FALSE(decodeScreenReply(payload.substr(0, cut), back)) << cut;
}
