// The .framing file of a session: written private, read back, and never through a link.
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "PrivateHome.h"
#include "ctl/ShellDetect.h"

using namespace kor;
namespace fs = std::filesystem;

class FramingFile : public PrivateHome {};

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
  EXPECT_EQ(readFile(control + "/s.framing"), "1 0 1\n");
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
  EXPECT_EQ(readFile(control + "/s.framing"), "0 0 0\n");
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
  EXPECT_EQ(readFile(target), "1 1 1\n");
  fs::remove(path);

  fs::create_hard_link(target, path);
  EXPECT_FALSE(readFramingCache("s", t));
  writeFramingCache("s", ShellTraits{});
  EXPECT_EQ(readFile(target), "1 1 1\n");
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
