#include <gtest/gtest.h>

#include <string>

#include "text/ExchangeText.h"

using namespace kor;

TEST(ExchangeText, EscapeBytesTable) {
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

TEST(ExchangeText, EscapeBytesNeverEmitsRawControlBytes) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  for (unsigned char c : escapeBytes(all)) EXPECT_TRUE(c >= 0x20 && c <= 0x7e) << int(c);
}

TEST(ExchangeText, RecordLines) {
  EXPECT_EQ(formatExchangeRecord({'>', "ls\r"}), "\xc2\xbb ls\\r\n");
  EXPECT_EQ(formatExchangeRecord({'<', "ok\r\n"}), "\xc2\xab ok\\r\\n\n");
  EXPECT_EQ(formatExchangeRecord({'\0', ""}), "\xc2\xab \n");
}
