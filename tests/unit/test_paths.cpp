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

TEST(Paths, NewSessionNames) {
  for (const char* fine : {"build", "bob's", "a b", "caf\xc3\xa9", "x-", ".x"})
    EXPECT_EQ(newSessionNameProblem(fine), "") << fine;
  const std::string control = "invalid session name (it contains control characters)";
  for (const std::string& bad : {std::string("a\nb"), std::string("a\rb"), std::string("\x1b[2J"),
                                 std::string("a\x7f"), std::string("a\0b", 3), std::string("\t")})
    EXPECT_EQ(newSessionNameProblem(bad), control);
  EXPECT_EQ(newSessionNameProblem("-x"), "invalid session name '-x' (it begins with '-')");
  for (const char* bad : {"", ".", "..", "a/b"})
    EXPECT_EQ(newSessionNameProblem(bad), std::string("invalid session name '") + bad + "'");
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
