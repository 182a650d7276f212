#include <gtest/gtest.h>

#include <string>

#include "ctl/Exchange.h"

using namespace kor;

namespace {

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

TEST(Exchange, EscapeBytesTable) {
  const struct {
    std::string in, out;
  } cases[] = {
      {"ls\r", "ls\\r"},
      {"\x1b[A", "\\x1b[A"},
      {"'\\", "\\'\\\\"},
      {"a\tb\nc", "a\\tb\\nc"},
      {std::string("\0\x1f\x7f", 3), "\\x00\\x1f\\x7f"},
      {"\xc3\xa9\xff", "\\xc3\\xa9\\xff"},
      {" ~\"%", " ~\"%"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(escapeBytes(c.in), c.out) << c.out;
}

TEST(Exchange, EscapeBytesNeverEmitsRawControlBytes) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (unsigned char c : escapeBytes(all)) EXPECT_TRUE(c >= 0x20 && c <= 0x7e) << int(c);
}

TEST(Exchange, ParsesRecordsCursorAndGap) {
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

TEST(Exchange, ShortOrDamagedPayloads) {
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

TEST(Exchange, RecordLines) {
  EXPECT_EQ(formatExchangeRecord({'>', "ls\r"}), "\xc2\xbb ls\\r\n");
  EXPECT_EQ(formatExchangeRecord({'<', "ok\r\n"}), "\xc2\xab ok\\r\\n\n");
  EXPECT_EQ(formatExchangeRecord({'\0', ""}), "\xc2\xab \n");
}
