#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ctl/OpenPlan.h"

using namespace kor;

TEST(OpenPlan, BuildsKorArguments) {
  OpenPlan plan = planOpen({"korctl", "open", "dev", "me@box", "--ctl-socket", "/tmp/dev.sock", "--command", "make"});
  EXPECT_EQ(plan.target, "/tmp/dev.sock");
  EXPECT_EQ(plan.korArgs,
            (std::vector<std::string>{"--ctl", "--name", "dev", "--ctl-socket", "/tmp/dev.sock", "--command",
                                      " set +o histexpand 2>/dev/null\n export KORCTL_SESSION='dev'; make; echo "
                                      "\"KORCTL_EC=$status\"",
                                      "me@box"}));
  plan = planOpen({"korctl", "open", "n", "h", "--command", "a", "--command=b", "--name", "other", "--command"});
  EXPECT_EQ(plan.korArgs,
            (std::vector<std::string>{"--ctl", "--name", "n", "--name", "other", "--command", "--command",
                                      " set +o histexpand 2>/dev/null\n export KORCTL_SESSION='n'; b; echo "
                                      "\"KORCTL_EC=$status\"",
                                      "h"}));
  plan = planOpen({"korctl", "open", "n", "--ctl-socket=/x.sock"});
  EXPECT_EQ(plan.host, "");
  EXPECT_EQ(plan.target, "/x.sock");
  EXPECT_FALSE(planOpen({"korctl", "open"}).hasName);
}

TEST(OpenPlan, QuotesTheNameAndComparesBareHosts) {
  EXPECT_EQ(setupCommand("bob's", ""),
            " set +o histexpand 2>/dev/null\n export KORCTL_SESSION='bob'\\''s'; echo \"KORCTL_EC=$status\"");
  EXPECT_EQ(bareHost("u@m.example:22"), "m.example");
  EXPECT_EQ(bareHost("m.example"), "m.example");
  EXPECT_EQ(bareHost("a@b@c:1:2"), "b@c");
}
