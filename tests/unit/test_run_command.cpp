#include <gtest/gtest.h>

#include "ctl/RunCommand.h"

using namespace kor;

TEST(RunCommand, BlankCommands) {
  for (const char* blank : {"", "  ", "\t\r\n ", "\n"}) EXPECT_TRUE(isBlankCommand(blank)) << blank;
  for (const char* real : {"true", " x ", "\v", "\f"}) EXPECT_FALSE(isBlankCommand(real)) << real;
}
