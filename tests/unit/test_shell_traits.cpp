// Shell traits judged from what the shell printed, and the .framing file's text.
#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <regex>
#include <vector>

#include "RandomText.h"
#include "text/ShellTraits.h"

using namespace kor;

TEST(ShellTraits, FramingFileContent) {
  struct Case {
    const char* content;
    bool valid;
    bool paste, osc, status;
  };
  const Case cases[] = {
      {"1 1 0\n", true, true, true, false},   {"0 0 1", true, false, false, true},
      {"1 1 -5\n", true, true, true, true},   {"2 3 4\n", true, true, true, true},
      {" \n1\n0\t0 trailing words", true, true, false, false},
      {"1 0\n", false, false, false, false},    {"-1 1 1\n", false, false, false, false},
      {"1 -1 1\n", false, false, false, false}, {"", false, false, false, false},
      {"x 1 1\n", false, false, false, false},  {"99999999999 0 0\n", false, false, false, false},
  };
  for (const Case& c : cases) {
    ShellTraits t;
    ASSERT_EQ(parseFramingContent(c.content, t), c.valid) << c.content;
    if (!c.valid) continue;
    EXPECT_EQ(t.pasteCapable, c.paste) << c.content;
    EXPECT_EQ(t.oscMarks, c.osc) << c.content;
    EXPECT_EQ(t.statusVar, c.status) << c.content;
  }
  EXPECT_EQ(framingContent(ShellTraits{true, true, false}), "1 1 0\n");
  EXPECT_EQ(framingContent(ShellTraits{false, false, true}), "0 0 1\n");
}

TEST(ShellTraits, SetupEchoJudgement) {
  const std::string typed = "set +o histexpand 2>/dev/null; export KORCTL_SESSION='s'; echo \"KORCTL_EC=$status\"\r\n";
  EXPECT_FALSE(hasSetupEcho(typed));  // only the echo of the typed line
  EXPECT_FALSE(hasSetupEcho(typed + "KORCTL_EC=0"));
  ASSERT_TRUE(hasSetupEcho(typed + "KORCTL_EC=\r\n$ "));

  ShellTraits plain = judgeSetupEcho(typed + "KORCTL_EC=\r\n$ ");
  EXPECT_FALSE(plain.statusVar);
  EXPECT_FALSE(plain.pasteCapable);
  EXPECT_FALSE(plain.oscMarks);

  ShellTraits rich = judgeSetupEcho("\x1b[?2004h" + typed + "\x1b]133;C\aKORCTL_EC=0\n\x1b]133;D;0\a");
  EXPECT_TRUE(rich.statusVar);
  EXPECT_TRUE(rich.pasteCapable);
  EXPECT_TRUE(rich.oscMarks);

  // Found bit by bit as the history grows, and only once its line end is there.
  const std::string history = typed + "KORCTL_EC=123\r\n";
  SetupEchoSearch search;
  for (size_t n = 0; n <= history.size(); ++n)
    EXPECT_EQ(search.search(history.substr(0, n)), n + 1 >= history.size()) << n;  // a CR is a line end too
}

TEST(ShellTraits, ProbeJudgement) {
  const std::string name = "KORCTL_OSCPROBE_0a1b2c3d";
  const std::string echo = "$ echo \"" + name + "=$status\"\r\n";
  ShellTraits fish = judgeProbe("\x1b[?2004l" + echo + name + "=0\r\n", name);
  EXPECT_TRUE(fish.statusVar);
  EXPECT_TRUE(fish.pasteCapable);
  EXPECT_FALSE(fish.oscMarks);
  EXPECT_FALSE(judgeProbe(echo + name + "=\r\n", name).statusVar);

  WordCounter counter(name);
  EXPECT_EQ(counter.count(echo.substr(0, 12)), 0u);
  EXPECT_EQ(counter.count(echo), 1u);
  EXPECT_EQ(counter.count(echo + name.substr(0, 5)), 1u);
  EXPECT_EQ(counter.count(echo + name + "=\r\n"), 2u);
}

TEST(ShellTraits, BusyShellBeforeAFrame) {
  const std::string typed = " export KORCTL_SESSION='s'; echo \"KORCTL_EC=$status\"\r\n";
  const std::string prompt = "\x1b]133;D;0\a\x1b]133;A\a$ \x1b]133;B\a";
  struct Case {
    const char* what;
    std::string recent;
    bool busy;
  };
  const Case cases[] = {
      {"nothing yet", "", false},
      {"set-up line typed, not run", prompt + typed, true},
      {"set-up line run", prompt + typed + "\x1b]133;C\aKORCTL_EC=0\r\n" + prompt, false},
      {"a command runs", prompt + "sleep 9\r\n\x1b]133;C\a", true},
      {"it ended", prompt + "\x1b]133;C\aout\r\n" + prompt, false},
      {"an unterminated mark is no mark", prompt + "\x1b]133;C", false},
      {"no marks at all", "$ ls\r\na b\r\n$ ", false},
  };
  for (const Case& c : cases) EXPECT_EQ(shellLooksBusy(c.recent), c.busy) << c.what;
  EXPECT_TRUE(showsOscMarks(prompt));
  EXPECT_FALSE(showsOscMarks("\x1b]7;/tmp\a$ "));
}

// The growing-text searches answer what the patterns answer on everything read so far.
TEST(ShellTraits, GrowingSearchesMatchThePatterns) {
  std::mt19937 rng(777);
  const std::vector<std::string> pieces = {"KORCTL_EC=", "KORCTL_", "EC=", "0", "42", "\r", "\n", "x", "K",
                                           "KORCTL_OSCPROBE_0a1b2c3d", "=1"};
  const std::regex echoRe("KORCTL_EC=[0-9]*[\r\n]");
  const std::regex nameRe("KORCTL_OSCPROBE_0a1b2c3d");
  for (int round = 0; round < 300; ++round) {
    const std::string text = randomText(rng, pieces, 1 + static_cast<int>(rng() % 25));
    SetupEchoSearch search;
    WordCounter counter("KORCTL_OSCPROBE_0a1b2c3d");
    for (size_t n = 0;;) {
      const std::string prefix = text.substr(0, n);
      ASSERT_EQ(search.search(prefix), std::regex_search(prefix, echoRe)) << round << " " << n;
      ASSERT_EQ(counter.count(prefix),
                static_cast<size_t>(std::distance(std::sregex_iterator(prefix.begin(), prefix.end(), nameRe),
                                                  std::sregex_iterator())))
          << round << " " << n;
      if (n == text.size()) break;
      n = std::min(text.size(), n + 1 + rng() % 6);
    }
  }
}
