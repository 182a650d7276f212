#include <gtest/gtest.h>

#include "base/ShellQuote.h"

using namespace kor;

TEST(ShellQuote, QuotesForTheShell) {
  EXPECT_EQ(shellQuote("/a b/it's;rm"), "'/a b/it'\\''s;rm'");
}
