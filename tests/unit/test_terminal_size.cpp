// The TerminalInfo payload of resize requests.
#include <gtest/gtest.h>

#include <string>

#include "TerminalInfo.pb.h"
#include "ctl/TerminalSize.h"

using namespace kor;

TEST(TerminalSize, TerminalInfoWritesAllFourSizeFieldsEvenWhenZero) {
  EXPECT_EQ(terminalInfoPayload(24, 80, 0, 0), std::string("\x10\x18\x18\x50\x20\x00\x28\x00", 8));
  TerminalInfo back;
  ASSERT_TRUE(back.ParseFromString(terminalInfoPayload(50, 200, 1600, 900)));
  EXPECT_EQ(back.rows(), 50);
  EXPECT_EQ(back.columns(), 200);
  EXPECT_EQ(back.pixelwidth(), 1600);
  EXPECT_EQ(back.pixelheight(), 900);
  EXPECT_FALSE(back.has_id());
  EXPECT_FALSE(back.has_cursorrow());
}

TEST(TerminalSize, NegativeSizesAreSentAsTenByteVarints) {
  const std::string payload = terminalInfoPayload(-1, 0, 0, 0);
  EXPECT_EQ(payload.substr(0, 11), std::string("\x10\xff\xff\xff\xff\xff\xff\xff\xff\xff\x01", 11));
  EXPECT_EQ(payload.size(), 11u + 6u);
}
