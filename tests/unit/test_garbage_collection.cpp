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
    bool help, idle, force, dryRun;
    long long limit;
  };
  const Case cases[] = {
      {{}, false, false, false, false, 28800},
      {{"--idle"}, false, true, false, false, 28800},
      {{"--idle", "30m"}, false, true, false, false, 1800},
      {{"--idle=30m"}, false, true, false, false, 1800},
      {{"--idle", "--force"}, false, true, true, false, 28800},
      {{"--force", "--idle", "6h", "--dry-run"}, false, true, true, true, 21600},
      {{"--idle=0"}, false, true, false, false, 0},
      {{"--idle", "--help"}, true, false, false, false, 28800},
      {{"-h", "--idle"}, true, false, false, false, 28800},
      {{"--bogus", "--idle=x", "-h"}, true, false, false, false, 28800},  // help wins over bad words
  };
  for (const Case& c : cases) {
    GcOptions options = parseGcArguments(c.words);
    std::string what = ::testing::PrintToString(c.words);
    EXPECT_EQ(options.problem, "") << what;
    EXPECT_EQ(options.help, c.help) << what;
    EXPECT_EQ(options.idle, c.idle) << what;
    EXPECT_EQ(options.force, c.force) << what;
    EXPECT_EQ(options.dryRun, c.dryRun) << what;
    EXPECT_EQ(options.idleLimit, c.limit) << what;
  }
}

TEST(GcArguments, RefusedWords) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"--bogus-option"}, "Option 'bogus-option' does not exist"},
      {{"--idle", "0s", "--force", "-n"}, "Option 'n' does not exist"},
      {{"--force=1"}, "Option 'force=1' does not exist"},
      {{"--idle", "-5"}, "Option '5' does not exist"},  // a dash word is never DUR
      {{"stray"}, "unexpected argument 'stray' (gc takes no NAME)"},
      {{"--idle", "bogus", "--bogus"}, "invalid duration 'bogus' for --idle (a number, then d, h, m or s: 30m, 6h, 2d)"},
      {{"--idle", ""}, "invalid duration '' for --idle (a number, then d, h, m or s: 30m, 6h, 2d)"},
      {{"--idle=-1"}, "invalid duration '-1' for --idle (a number, then d, h, m or s: 30m, 6h, 2d)"},
  };
  for (const auto& [words, problem] : cases) EXPECT_EQ(parseGcArguments(words).problem, problem);
}

TEST(GcArguments, Durations) {
  const std::pair<const char*, long long> cases[] = {
      {"30m", 1800},   {"6h", 21600},   {"2d", 172800},  {"1.5h", 5400},         {"90", 90},
      {"90s", 90},     {"1.9", 1},      {"1e3m", 60000}, {".5m", 30},           {"0", 0},
      {"1e30", kNeverIdle}, {"1e999", kNeverIdle}, {"1e17d", kNeverIdle}, {"9e18", 9000000000000000000LL},
  };
  for (const auto& [text, limit] : cases) {
    long long value = 12345;
    EXPECT_TRUE(parseIdleDuration(text, value)) << text;
    EXPECT_EQ(value, limit) << text;
  }
  for (const char* text : {"", "abc", "m", "90x", "30mm", "3 m", " 3m", "-1.9", "+5", "nan", "inf", "0x10",
                           "1.2.3", "1e", "1e+", ".", "5m "}) {
    long long value = 12345;
    EXPECT_FALSE(parseIdleDuration(text, value)) << text;
    EXPECT_EQ(value, 12345) << text;
  }
}

TEST(GcArguments, OnlyRefusedOrMissingSocketsAreDead) {
  for (int error : {ECONNREFUSED, ENOENT, ENOTSOCK}) EXPECT_TRUE(isDeadConnectError(error)) << error;
  for (int error : {EAGAIN, EACCES, ENAMETOOLONG, ETIMEDOUT, EINTR, EMFILE})
    EXPECT_FALSE(isDeadConnectError(error)) << error;
}
