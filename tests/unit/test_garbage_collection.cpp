// The argument rules of `gc` and what counts as a dead socket.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "ctl/GarbageCollection.h"

using namespace kor;

TEST(GcArguments, Words) {
  struct Case {
    std::vector<std::string> words;
    bool help, idle, force;
    long long limit;
  };
  const Case cases[] = {
      {{}, false, false, false, 28800},
      {{"--idle"}, false, true, false, 28800},
      {{"--idle", "30m"}, false, true, false, 1800},
      {{"--idle=30m"}, false, true, false, 1800},
      {{"--idle", "--force"}, false, true, true, 28800},
      {{"--force", "--idle", "6h"}, false, true, true, 21600},
      {{"--idle", ""}, false, true, false, 28800},
      {{"--idle", "", "--force"}, false, true, true, 28800},
      {{"--idle", "-5"}, false, true, false, 28800},
      {{"--idle=abc"}, false, true, false, 28800},
      {{"--idle=0"}, false, true, false, 0},
      {{"stray", "--idle=2d", "-x"}, false, true, false, 172800},
      {{"--idle", "--help"}, true, true, false, 28800},
      {{"-h", "--idle"}, true, false, false, 28800},
  };
  for (const Case& c : cases) {
    GcOptions options = parseGcArguments(c.words);
    std::string what = ::testing::PrintToString(c.words);
    EXPECT_EQ(options.help, c.help) << what;
    EXPECT_EQ(options.idle, c.idle) << what;
    EXPECT_EQ(options.force, c.force) << what;
    EXPECT_EQ(options.idleLimit, c.limit) << what;
  }
}

TEST(GcArguments, Durations) {
  const long long unchanged = 12345;
  const std::pair<const char*, long long> cases[] = {
      {"30m", 1800},   {"6h", 21600},   {"2d", 172800},       {"1.5h", 5400},        {"90", 90},
      {"90s", 90},     {"90x", 90},     {"1.9", 1},           {"-1.9", -1},          {"1e3m", 60000},
      {"abc", unchanged}, {"", unchanged}, {"m", unchanged},  {"nan", unchanged},    {"nanh", unchanged},
      {"inf", kNeverIdle}, {"-inf", kNeverIdle}, {"1e30", kNeverIdle}, {"-1e30", kNeverIdle},
      {"1e17d", kNeverIdle}, {"9e18", 9000000000000000000LL},
  };
  for (const auto& [text, limit] : cases) {
    long long value = unchanged;
    applyIdleDuration(text, value);
    EXPECT_EQ(value, limit) << text;
  }
}

TEST(GcArguments, OnlyRefusedOrMissingSocketsAreDead) {
  for (int error : {ECONNREFUSED, ENOENT, ENOTSOCK}) EXPECT_TRUE(isDeadConnectError(error)) << error;
  for (int error : {EAGAIN, EACCES, ENAMETOOLONG, ETIMEDOUT, EINTR, EMFILE})
    EXPECT_FALSE(isDeadConnectError(error)) << error;
}
