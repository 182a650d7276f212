// The session table of `sessions` and the argument rules of `gc`.
#include <cerrno>
#include <climits>

#include "StoreFixture.h"
#include "ctl/GarbageCollection.h"
#include "ctl/SessionList.h"

using namespace kor;

TEST(SessionList, FormatDuration) {
  const std::pair<int64_t, const char*> cases[] = {
      {-5, "0s"},       {0, "0s"},       {59, "59s"},     {60, "1m0s"},     {65, "1m5s"},
      {3599, "59m59s"}, {3600, "1h0m"},  {3725, "1h2m"},  {86399, "23h59m"}, {86400, "1d0h"},
      {90061, "1d1h"},  {183600, "2d3h"}, {INT64_MAX, "106751991167300d15h"},
  };
  for (const auto& [seconds, text] : cases) EXPECT_EQ(formatDuration(seconds), text) << seconds;
}

TEST(SessionList, RowsFromStatusRecords) {
  const int64_t now = 1000000;
  struct Case {
    StatusMap status;
    std::vector<std::string> row;  // host, status, up, idle
  };
  const Case cases[] = {
      {{}, {"-", "dead", "-", "-"}},
      {{{"x", "y"}}, {"-", "disconnected", "-", "-"}},
      {{{"connected", "1"}, {"host", "db"}, {"created", "996275"}, {"lastActivity", "999935"}},
       {"db", "connected", "1h2m", "1m5s"}},
      {{{"connected", "yes"}, {"host", ""}, {"created", "0"}, {"lastActivity", "-3"}},
       {"-", "disconnected", "-", "-"}},
      {{{"connected", "1 "}, {"created", "1000060"}, {"lastActivity", "999999x"}},
       {"-", "disconnected", "0s", "1s"}},
  };
  for (const Case& c : cases) {
    SessionRow row = socketRow("s", c.status, now);
    EXPECT_EQ((std::vector<std::string>{row.host, row.status, row.up, row.idle}), c.row);
    EXPECT_EQ(row.name, "s");
  }

  SessionInfo saved;
  saved.name = "prod";
  saved.host = "db";
  saved.lastUsed = now - 51 * 3600;
  SessionRow row = savedRow(saved, now);
  EXPECT_EQ((std::vector<std::string>{row.name, row.host, row.status, row.up, row.idle}),
            (std::vector<std::string>{"prod", "db", "no-control", "-", "2d3h"}));
  saved.lastUsed = 0;
  saved.host = "";
  row = savedRow(saved, now);
  EXPECT_EQ(row.host, "-");
  EXPECT_EQ(row.idle, "-");
}

TEST(SessionList, TableIsSortedAndPaddedToTheWidestCell) {
  EXPECT_EQ(formatSessionTable({}), "");
  EXPECT_EQ(formatSessionTable({{"tmp", "-", "dead", "-", "-"},
                                {"prod", "db", "no-control", "-", "2d3h"},
                                {"build", "-", "connected", "1h2m", "1m5s"}}),
            "NAME   HOST  STATUS      UP    IDLE\n"
            "build  -     connected   1h2m  1m5s\n"
            "prod   db    no-control  -     2d3h\n"
            "tmp    -     dead        -     -\n");
  EXPECT_EQ(formatSessionTable({{"a", "-", "dead", "-", "-"}}),
            "NAME  HOST  STATUS  UP  IDLE\n"
            "a     -     dead    -   -\n");
}

class ControlScan : public PrivateHome {};

TEST_F(ControlScan, SocketNamesAreSortedBytewise) {
  EXPECT_TRUE(scanControlDir().empty());  // no control directory at all
  makeDir(kor);
  makeDir(control);
  for (const char* file : {"b.sock", "a.sock", "ab.sock", "B.sock", ".sock", "x.sock.gone", "a.framing", "sock"})
    writeFile(control + "/" + file, "");
  EXPECT_EQ(scanControlDir(), (std::vector<std::string>{"B", "a", "ab", "b"}));
  EXPECT_EQ(controlEndpoint("a").path, control + "/a.sock");
  EXPECT_EQ(controlEndpoint("a").name, "a");
}

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
