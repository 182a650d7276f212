#include <gtest/gtest.h>

#include <cstdlib>

#include "base/Paths.h"

using namespace kor;

TEST(Paths, FilesOfASessionLiveInTheControlDirectory) {
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(controlSocketPath("build"), "/home/u/.kor/control/build.sock");
  EXPECT_EQ(framingFilePath("build"), "/home/u/.kor/control/build.framing");
  EXPECT_EQ(goneFilePath("build"), "/home/u/.kor/control/build.gone");
  EXPECT_EQ(sessionsDir(), "/home/u/.kor/sessions");
  EXPECT_EQ(resolveSocketPath("/tmp/no-such-x.sock"), "/home/u/.kor/control//tmp/no-such-x.sock.sock");
  EXPECT_THROW(goneFilePath("a/b"), std::runtime_error);
}

TEST(Paths, SessionNameRule) {
  EXPECT_TRUE(isValidSessionName(std::string(63, 'a')));
  EXPECT_TRUE(isValidSessionName("a.b_c-9"));
  for (const char* bad : {"", ".a", "_a", "-a", "a/b", "a b", "é"}) EXPECT_FALSE(isValidSessionName(bad)) << bad;
  EXPECT_FALSE(isValidSessionName(std::string(64, 'a')));
}

TEST(Paths, GoneReasonWithAge) {
  EXPECT_EQ(parseGoneReason("1000 killed by operator\n", 1060), "killed by operator (60s ago)");
  EXPECT_EQ(parseGoneReason("1000   killed by operator\nmore", 999), "killed by operator");
  EXPECT_EQ(parseGoneReason("  1000 x", 1000), "x (0s ago)");
  EXPECT_EQ(parseGoneReason("1000", 1060), "");
  EXPECT_EQ(parseGoneReason("1000   \n", 1060), "");
  EXPECT_EQ(parseGoneReason("abc reason", 1060), "");
  EXPECT_EQ(parseGoneReason("-9223372036854775808 x", 1060), "x (9223372036854775807s ago)");
  EXPECT_EQ(parseGoneReason("9223372036854775807 x", -10), "x");
}
