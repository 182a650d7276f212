#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <string>

#include "ctl/Attach.h"

using namespace kor;

TEST(Attach, DetachKeys) {
  const struct {
    std::string typed;
    bool observe;
    size_t at;
  } cases[] = {
      {"ab\x1d" "cd", false, 2},
      {"ab\x03\x1d", false, 3},  // attach sends Ctrl-C on
      {"ab\x03\x1d", true, 2},   // observe detaches on it
      {"\x1d", true, 0},
      {"plain", true, std::string::npos},
      {"", false, std::string::npos},
  };
  for (const auto& c : cases) EXPECT_EQ(findDetachKey(c.typed, c.observe), c.at) << c.typed << c.observe;
}

TEST(Attach, FailedKeyboardWaitStillTakesItsPass) {
  const int saved = dup(0);
  ASSERT_GE(saved, 0);
  close(0);  // select now fails at once with EBADF
  const auto start = std::chrono::steady_clock::now();
  const bool readable = waitForKeyboard();
  const auto spent = std::chrono::steady_clock::now() - start;
  dup2(saved, 0);
  close(saved);
  EXPECT_FALSE(readable);
  EXPECT_GE(spent, std::chrono::milliseconds(90));
}
