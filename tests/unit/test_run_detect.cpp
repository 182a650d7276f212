#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <regex>
#include <vector>

#include "base/Paths.h"
#include "ctl/ShellDetect.h"

using namespace kor;
namespace fs = std::filesystem;

TEST(RunDetect, FramingFileContent) {
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

TEST(RunDetect, SetupEchoJudgement) {
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

TEST(RunDetect, ProbeJudgement) {
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

class FramingFile : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kfXXXXXX";
    home = mkdtemp(pattern);
    const char* old = getenv("HOME");
    oldHome = old ? old : "";
    setenv("HOME", home.c_str(), 1);
    control = home + "/.kor/control";
  }
  void TearDown() override {
    setenv("HOME", oldHome.c_str(), 1);
    fs::remove_all(home);
  }
  static std::string slurp(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  std::string home, oldHome, control;
};

TEST_F(FramingFile, WrittenPrivateAndReadBack) {
  ShellTraits t;
  EXPECT_FALSE(readFramingCache("s", t));
  fs::create_directories(control);
  fs::permissions(control, fs::perms(0755), fs::perm_options::replace);
  {
    std::ofstream(control + "/s.framing") << "junk";
  }
  chmod((control + "/s.framing").c_str(), 0644);

  writeFramingCache("s", ShellTraits{true, false, true});
  EXPECT_EQ(slurp(control + "/s.framing"), "1 0 1\n");
  struct stat st;
  ASSERT_EQ(stat(control.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(stat((control + "/s.framing").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  ASSERT_TRUE(readFramingCache("s", t));
  EXPECT_TRUE(t.pasteCapable);
  EXPECT_FALSE(t.oscMarks);
  EXPECT_TRUE(t.statusVar);
}

TEST_F(FramingFile, CreatesTheControlDirectory) {
  writeFramingCache("s", ShellTraits{});
  EXPECT_EQ(slurp(control + "/s.framing"), "0 0 0\n");
  struct stat st;
  ASSERT_EQ(stat(control.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(FramingFile, OnlyARegularFileWithOneLinkIsUsed) {
  fs::create_directories(control);
  const std::string target = home + "/target";
  {
    std::ofstream(target) << "1 1 1\n";
  }
  const std::string path = control + "/s.framing";
  ShellTraits t;

  fs::create_symlink(target, path);
  EXPECT_FALSE(readFramingCache("s", t));
  writeFramingCache("s", ShellTraits{});
  EXPECT_EQ(slurp(target), "1 1 1\n");
  fs::remove(path);

  fs::create_hard_link(target, path);
  EXPECT_FALSE(readFramingCache("s", t));
  writeFramingCache("s", ShellTraits{});
  EXPECT_EQ(slurp(target), "1 1 1\n");
  fs::remove(path);

  ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  EXPECT_FALSE(readFramingCache("s", t));  // neither blocks nor reads
  writeFramingCache("s", ShellTraits{});
  fs::remove(path);

  fs::create_directory(path);
  EXPECT_FALSE(readFramingCache("s", t));
  writeFramingCache("s", ShellTraits{});
  EXPECT_TRUE(fs::is_directory(path));
}

TEST_F(FramingFile, SocketPathNamesAreNotCached) {
  writeFramingCache("/tmp/s/x.sock", ShellTraits{true, true, true});
  ShellTraits t;
  EXPECT_FALSE(readFramingCache("/tmp/s/x.sock", t));
  EXPECT_FALSE(fs::exists(control + "//tmp/s/x.sock.framing"));
}

TEST_F(FramingFile, PrivateDirErrors) {
  ensurePrivateDir("");  // nothing to do
  {
    std::ofstream(home + "/file") << "x";
  }
  try {
    ensurePrivateDir(home + "/file/sub");
    FAIL() << "no error";
  } catch (const std::runtime_error& error) {
    EXPECT_EQ(std::string(error.what()).rfind("could not create " + home + "/file/sub: ", 0), 0u) << error.what();
  }
}

// The growing-text searches answer what the patterns answer on everything read so far.
TEST(RunDetect, GrowingSearchesMatchThePatterns) {
  std::mt19937 rng(777);
  const std::vector<std::string> pieces = {"KORCTL_EC=", "KORCTL_", "EC=", "0", "42", "\r", "\n", "x", "K",
                                           "KORCTL_OSCPROBE_0a1b2c3d", "=1"};
  const std::regex echoRe("KORCTL_EC=[0-9]*[\r\n]");
  const std::regex nameRe("KORCTL_OSCPROBE_0a1b2c3d");
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int i = 1 + static_cast<int>(rng() % 25); i > 0; --i) text += pieces[rng() % pieces.size()];
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
