// The session table of `sessions`.
#include <gtest/gtest.h>

#include <cstdint>

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
