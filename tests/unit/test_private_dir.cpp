#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "base/PrivateDir.h"

using namespace kor;

namespace {

mode_t modeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

TEST(PrivateDir, CreatesOnlyWhatIsMissing) {
  char pattern[] = "/tmp/kpXXXXXX";
  const std::string dir = mkdtemp(pattern);
  mode_t old = umask(0);  // the mode is 0700 even when the umask would allow more
  EXPECT_EQ(makePrivateDir(dir + "/new"), 0);
  umask(old);
  EXPECT_EQ(modeOf(dir + "/new"), 0700u);

  ASSERT_EQ(mkdir((dir + "/open").c_str(), 0755), 0);
  chmod((dir + "/open").c_str(), 0755);
  EXPECT_EQ(makePrivateDir(dir + "/open"), 0);
  EXPECT_EQ(modeOf(dir + "/open"), 0755u);  // an existing directory is left as it is
  std::ofstream(dir + "/file") << "x";
  EXPECT_EQ(makePrivateDir(dir + "/file"), 0);  // so is an existing file: the caller checks
  EXPECT_EQ(makePrivateDir(dir + "/missing/child"), ENOENT);

  for (const char* entry : {"/new", "/open", "/file"}) std::remove((dir + entry).c_str());
  rmdir(dir.c_str());
}
