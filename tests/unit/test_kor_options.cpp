#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "kor/KorOptions.h"

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
  EXPECT_EQ(parseKorArgs({"--ctl", "--name", "x", "--login-timeout", "2.5", "h"}).loginTimeout, 2.5);
  EXPECT_EQ(parseKorArgs({"--ctl", "--name", "x", "h"}).loginTimeout, 30);
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
      {"--ctl", "--name", "x", "--login-timeout", "0", "h"},
      {"--ctl", "--name", "x", "--login-timeout", "5s", "h"},
      {"--ctl", "--name", "x", "--login-timeout=nan", "h"},
  };
  for (const auto& args : bad) EXPECT_THROW(parseKorArgs(args), std::runtime_error) << args.back();
}

TEST(KorOptions, SizesAndHosts) {
  EXPECT_EQ(parseByteSize("4096"), 4096u);
  EXPECT_EQ(parseByteSize("512k"), 512u * 1024);
  EXPECT_EQ(parseByteSize("64MiB"), 64u * 1024 * 1024);
  EXPECT_EQ(parseByteSize("1G"), 1024u * 1024 * 1024);
  // The last two are 2^64 + 64 MiB and 2^64 bytes: no size wraps around to a small one.
  for (const char* text : {"", "M", "-1", "1.5M", "10 M", "1T", "17592186044480M", "17179869184G"})
    EXPECT_THROW(parseByteSize(text), std::runtime_error) << text;

  for (const char* host : {"localhost", "127.0.0.1", "::1", "myhost"}) EXPECT_TRUE(isLocalHost(host, "myhost"));
  EXPECT_FALSE(isLocalHost("other", "myhost"));
  const std::vector<std::string> ssh = {"ssh", "-tt", "-o", "ControlPath=none", "-o", "PermitLocalCommand=yes",
                                        "-o", "LocalCommand=kill -USR1 7"};
  auto with = [&ssh](std::vector<std::string> rest) {
    std::vector<std::string> all = ssh;
    all.insert(all.end(), rest.begin(), rest.end());
    return all;
  };
  EXPECT_EQ(sshCommand("me@box:2222", "kill -USR1 7"), with({"-p", "2222", "--", "me@box"}));
  EXPECT_EQ(sshCommand("box", "kill -USR1 7"), with({"--", "box"}));
  EXPECT_EQ(sshCommand("fe80::1", "kill -USR1 7"), with({"--", "fe80::1"}));
}
