#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "TerminalInfo.pb.h"
#include "ctl/OpenPlan.h"
#include "kor/KorOptions.h"
#include "kor/Requests.h"

using namespace kor;

TEST(KorOptions, ParsesTheCommandLine) {
  KorOptions o = parseKorArgs({"--ctl", "--name", "dev", "--ctl-socket=/tmp/d.sock", "--command", "a",
                               "--command=b", "--shell", "/bin/sh", "--scrollback", "1M", "--size", "30x100",
                               "me@box:2222"});
  EXPECT_EQ(o.name, "dev");
  EXPECT_EQ(o.ctlSocket, "/tmp/d.sock");
  EXPECT_EQ(o.command, "b");  // the last one counts
  EXPECT_EQ(o.shell, "/bin/sh");
  EXPECT_EQ(o.scrollback, 1024u * 1024);
  EXPECT_EQ(o.rows, 30);
  EXPECT_EQ(o.cols, 100);
  EXPECT_EQ(o.host, "me@box:2222");
  EXPECT_EQ(parseKorArgs({"--ctl", "--name", "x", "localhost"}).scrollback, kDefaultScrollback);
  EXPECT_TRUE(parseKorArgs({"--help"}).help);
}

TEST(KorOptions, RefusesBadCommandLines) {
  const std::vector<std::vector<std::string>> bad = {
      {"--name", "x", "localhost"},                        // no --ctl
      {"--ctl", "localhost"},                              // no name
      {"--ctl", "--name", "x"},                            // no host
      {"--ctl", "--name", "x", "a", "b"},                  // two hosts
      {"--ctl", "--name", "x", "--bogus", "localhost"},
      {"--ctl", "--name", "a/b", "localhost"},
      {"--ctl", "--name", "x", "localhost", "--size"},     // missing value
      {"--ctl", "--name", "x", "--size", "0x80", "localhost"},
      {"--ctl", "--name", "x", "--size", "24x65536", "localhost"},
      {"--ctl", "--name", "x", "--scrollback", "300M", "localhost"},  // a reply could not carry it
      {"--ctl", "--name", "x", "--scrollback", "12Q", "localhost"},
  };
  for (const auto& args : bad) EXPECT_THROW(parseKorArgs(args), std::runtime_error) << args.back();
}

TEST(KorOptions, SizesAndHosts) {
  EXPECT_EQ(parseByteSize("4096"), 4096u);
  EXPECT_EQ(parseByteSize("512k"), 512u * 1024);
  EXPECT_EQ(parseByteSize("64MiB"), 64u * 1024 * 1024);
  EXPECT_EQ(parseByteSize("1G"), 1024u * 1024 * 1024);
  for (const char* text : {"", "M", "-1", "1.5M", "10 M", "1T"}) EXPECT_THROW(parseByteSize(text), std::runtime_error) << text;

  for (const char* host : {"localhost", "127.0.0.1", "::1", "myhost"}) EXPECT_TRUE(isLocalHost(host, "myhost"));
  EXPECT_FALSE(isLocalHost("other", "myhost"));
  EXPECT_EQ(sshCommand("me@box:2222"), (std::vector<std::string>{"ssh", "-tt", "-p", "2222", "--", "me@box"}));
  EXPECT_EQ(sshCommand("box"), (std::vector<std::string>{"ssh", "-tt", "--", "box"}));
  EXPECT_EQ(sshCommand("fe80::1"), (std::vector<std::string>{"ssh", "-tt", "--", "fe80::1"}));
}

TEST(KorRequests, HeaderChecks) {
  struct Case {
    uint8_t type;
    uint32_t length;
    bool ok;
  } cases[] = {
      {1, 0, true}, {1, 64u << 20, true}, {1, (64u << 20) + 1, false}, {7, (64u << 20) + 1, false},
      {3, 8, true}, {3, 7, false},       {6, 8, true},                 {6, 9, false},
      {4, 0, true}, {4, 1, false},       {5, 0, true},                 {5, 3, false},
      {2, 8, true}, {0, 0, false},       {8, 0, false},                {0x41, 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(checkRequestHeader(c.type, c.length).empty(), c.ok) << int(c.type) << " " << c.length;
  EXPECT_EQ(checkRequestHeader(9, 0), "unknown request type 9");
}

TEST(KorRequests, ResizeAppliesOnlyWhatTheTerminalCanTake) {
  auto payload = [](int rows, int cols) {
    TerminalInfo info;
    info.set_rows(rows);
    info.set_columns(cols);
    info.set_pixelwidth(0);
    info.set_pixelheight(0);
    return info.SerializeAsString();
  };
  TermSize size;
  EXPECT_EQ(applyResize(payload(30, 100), size), "");
  EXPECT_EQ(size.rows, 30);
  EXPECT_EQ(size.cols, 100);
  for (auto bad : {payload(-1, 80), payload(24, 65536)}) {
    EXPECT_NE(applyResize(bad, size), "");
    EXPECT_EQ(size.rows, 30);  // unchanged
  }
  EXPECT_NE(applyResize("\xff\xff", size), "");
  TerminalInfo rowsOnly;
  rowsOnly.set_rows(50);
  EXPECT_EQ(applyResize(rowsOnly.SerializeAsString(), size), "");
  EXPECT_EQ(size.rows, 50);
  EXPECT_EQ(size.cols, 100);
}

TEST(OpenPlan, BuildsKorArguments) {
  OpenPlan plan = planOpen({"korctl", "open", "dev", "me@box", "--ctl-socket", "/tmp/dev.sock", "--command", "make"});
  EXPECT_EQ(plan.target, "/tmp/dev.sock");
  EXPECT_EQ(plan.korArgs,
            (std::vector<std::string>{"--ctl", "--name", "dev", "--ctl-socket", "/tmp/dev.sock", "--command",
                                      "set +o histexpand 2>/dev/null\nexport KORCTL_SESSION='dev'; make; echo "
                                      "\"KORCTL_EC=$status\"",
                                      "me@box"}));
  plan = planOpen({"korctl", "open", "n", "h", "--command", "a", "--command=b", "--name", "other", "--command"});
  EXPECT_EQ(plan.korArgs,
            (std::vector<std::string>{"--ctl", "--name", "n", "--name", "other", "--command", "--command",
                                      "set +o histexpand 2>/dev/null\nexport KORCTL_SESSION='n'; b; echo "
                                      "\"KORCTL_EC=$status\"",
                                      "h"}));
  plan = planOpen({"korctl", "open", "n", "--ctl-socket=/x.sock"});
  EXPECT_EQ(plan.host, "");
  EXPECT_EQ(plan.target, "/x.sock");
  EXPECT_FALSE(planOpen({"korctl", "open"}).hasName);
}

TEST(OpenPlan, QuotesTheNameAndComparesBareHosts) {
  EXPECT_EQ(setupCommand("bob's", ""),
            "set +o histexpand 2>/dev/null\nexport KORCTL_SESSION='bob'\\''s'; echo \"KORCTL_EC=$status\"");
  EXPECT_EQ(bareHost("u@m.example:22"), "m.example");
  EXPECT_EQ(bareHost("m.example"), "m.example");
  EXPECT_EQ(bareHost("a@b@c:1:2"), "b@c");
}
