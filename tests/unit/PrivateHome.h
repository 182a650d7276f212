#pragma once
// The unit tests' one private HOME (a short path under /tmp, removed afterwards; the HOME of
// the test run is put back), files with chosen modes, and a capture of the log records (the
// logger writes them to standard error).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

class PrivateHome : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("HOME");
    hadHome = old != nullptr;
    if (old) oldHome = old;
    char pattern[] = "/tmp/korhomeXXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    home = pattern;
    kor = home + "/.kor";
    sessions = kor + "/sessions";
    control = kor + "/control";
    setenv("HOME", home.c_str(), 1);
  }
  void TearDown() override {
    if (hadHome) setenv("HOME", oldHome.c_str(), 1);
    else unsetenv("HOME");
    std::error_code ec;
    std::filesystem::permissions(home, std::filesystem::perms::all, ec);
    std::filesystem::remove_all(home, ec);
  }

  void makeDir(const std::string& path, mode_t mode = 0700) {
    ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
  }
  void makeStoreDirs() {
    makeDir(kor);
    makeDir(sessions);
  }
  void writeFile(const std::string& path, const std::string& content, mode_t mode = 0600) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    ASSERT_EQ(chmod(path.c_str(), mode), 0) << path;
  }
  static std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  static bool exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
  }
  static mode_t modeOf(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
  }
  // Everything in a directory but the given names (temporary files left behind, say).
  static std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
      names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The log records written while body runs.
  static std::string captureLog(const std::function<void()>& body) {
    std::ostringstream captured;
    std::streambuf* old = std::cerr.rdbuf(captured.rdbuf());
    body();
    std::cerr.rdbuf(old);
    return captured.str();
  }

  std::string home, kor, sessions, control;

 private:
  bool hadHome = false;
  std::string oldHome;
};

// Cases that need another user's files run only as root (which can chown them away).
#define REQUIRE_ROOT()                                                       \
  if (getuid() != 0) GTEST_SKIP() << "needs root to give a file to nobody"
