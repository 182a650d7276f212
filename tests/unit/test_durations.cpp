#include <gtest/gtest.h>

#include "base/Durations.h"

using namespace kor;

TEST(Durations, ClampInsteadOfOverflow) {
  EXPECT_EQ(durationMillis(0.0004), 0);
  EXPECT_EQ(durationMillis(1.5), 1500);
  EXPECT_EQ(durationMillis(-0.5), -500);
  EXPECT_EQ(durationMillis(1e300), 1000000000000LL);
  EXPECT_EQ(durationMillis(-1e300), -1000000000000LL);
  EXPECT_EQ(durationMillis(1.0 / 0.0), 1000000000000LL);
  EXPECT_EQ(durationMillis(0.0 / 0.0), 0);
}
