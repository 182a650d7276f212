// Directory and file safety of the saved-session store.
#include <sys/resource.h>
#include <sys/time.h>

#include <csignal>
#include <ctime>

#include "PrivateHome.h"
#include "terminal/SessionStoreUnix.h"

using namespace kor::session_storage;

namespace {

const uid_t kNobody = 65534;

std::string raisedBy(const std::function<void()>& body) {
  try {
    body();
  } catch (const std::runtime_error& error) {
    return error.what();
  }
  return "";
}

}  // namespace

class StorageDirs : public PrivateHome {};

TEST_F(StorageDirs, MissingDirectoriesPassOnlyWhenAllowed) {
  EXPECT_EQ(raisedBy([&] { checkSessionDirectories(sessions, true); }), "");
  EXPECT_EQ(raisedBy([&] { checkSessionDirectories(sessions, false); }),
            "Could not inspect session directory: No such file or directory");
  makeDir(kor);
  EXPECT_EQ(raisedBy([&] { checkSessionDirectories(sessions, true); }), "");
}

TEST_F(StorageDirs, UnsafeDirectoriesAreRejected) {
  const std::string unsafe = "Session directory has unsafe owner or permissions";
  struct Case {
    const char* what;
    std::function<void()> arrange;
  };
  const Case cases[] = {
      {".kor group-readable", [&] { makeStoreDirs(); chmod(kor.c_str(), 0750); }},
      {".kor world-readable", [&] { makeStoreDirs(); chmod(kor.c_str(), 0755); }},
      {"sessions other-writable", [&] { makeStoreDirs(); chmod(sessions.c_str(), 0702); }},
      {"sessions a link to a safe directory", [&] {
         makeDir(kor);
         makeDir(home + "/real");
         symlink((home + "/real").c_str(), sessions.c_str());
       }},
      {"sessions a regular file", [&] { makeDir(kor); writeFile(sessions, ""); }},
      {".kor a link to a safe directory", [&] {
         makeDir(home + "/real");
         makeDir(home + "/real/sessions");
         symlink((home + "/real").c_str(), kor.c_str());
       }},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(kor);
    std::filesystem::remove_all(home + "/real");
    c.arrange();
    EXPECT_EQ(raisedBy([&] { checkSessionDirectories(sessions, true); }), unsafe) << c.what;
  }
}

TEST_F(StorageDirs, DirectoryOfAnotherUserIsRejected) {
  REQUIRE_ROOT();
  makeStoreDirs();
  ASSERT_EQ(chown(sessions.c_str(), kNobody, kNobody), 0);
  EXPECT_EQ(raisedBy([&] { checkSessionDirectories(sessions, true); }),
            "Session directory has unsafe owner or permissions");
  EXPECT_EQ(raisedBy([&] { ensureSessionDirectory(sessions); }),
            "Session directory has unsafe owner or is not a directory");
}

TEST_F(StorageDirs, EnsureCreatesAndRepairsButRefusesLinks) {
  mode_t oldMask = umask(0);
  ensureSessionDirectory(kor);
  EXPECT_EQ(modeOf(kor), 0700u);
  chmod(kor.c_str(), 0755);
  ensureSessionDirectory(kor);
  EXPECT_EQ(modeOf(kor), 0700u);
  umask(oldMask);

  makeDir(home + "/real");
  ASSERT_EQ(symlink((home + "/real").c_str(), sessions.c_str()), 0);
  EXPECT_EQ(raisedBy([&] { ensureSessionDirectory(sessions); }),
            "Session directory has unsafe owner or is not a directory");
  EXPECT_EQ(raisedBy([&] { ensureSessionDirectory(home + "/nosuch/dir"); }),
            "Could not create session directory: No such file or directory");
}

class StorageRead : public PrivateHome {
 protected:
  void SetUp() override {
    PrivateHome::SetUp();
    makeStoreDirs();
    path = sessions + "/alpha";
  }
  std::string read(std::optional<std::string>* content = nullptr, int64_t* mtime = nullptr) {
    return captureLog([&] {
      auto got = readSessionFile(path, "alpha", mtime);
      if (content) *content = got;
    });
  }
  std::string path;
};

TEST_F(StorageRead, SafeFileGivesContentAndModificationTime) {
  writeFile(path, "version=1\n");
  struct timeval times[2] = {{1000000000, 0}, {1000000000, 0}};
  ASSERT_EQ(utimes(path.c_str(), times), 0);
  std::optional<std::string> content;
  int64_t mtime = 0;
  EXPECT_EQ(read(&content, &mtime), "");
  EXPECT_EQ(content, "version=1\n");
  EXPECT_EQ(mtime, 1000000000);
}

TEST_F(StorageRead, MissingFileGivesNothingSilently) {
  std::optional<std::string> content = "x";
  EXPECT_EQ(read(&content), "");
  EXPECT_EQ(content, std::nullopt);
}

TEST_F(StorageRead, UnsafeFilesAreSkippedWithAWarning) {
  struct Case {
    const char* what;
    std::function<void()> arrange;
  };
  const std::string valid = sessions + "/valid";
  const Case cases[] = {
      {"mode 0640", [&] { writeFile(path, "x", 0640); }},
      {"mode 0604", [&] { writeFile(path, "x", 0604); }},
      {"a second hard link", [&] { writeFile(path, "x"); link(path.c_str(), (sessions + "/other").c_str()); }},
      {"a symbolic link to a valid file", [&] { writeFile(valid, "x"); symlink(valid.c_str(), path.c_str()); }},
      {"a directory", [&] { makeDir(path); }},
      {"a fifo", [&] { mkfifo(path.c_str(), 0600); }},
  };
  for (const Case& c : cases) {
    std::filesystem::remove_all(sessions);
    makeDir(sessions);
    c.arrange();
    std::optional<std::string> content = "x";
    std::string log = read(&content);
    EXPECT_EQ(content, std::nullopt) << c.what;
    EXPECT_NE(log.find("Skipping unsafe session file 'alpha'"), std::string::npos) << c.what << ": " << log;
  }
}

TEST_F(StorageRead, FileOfAnotherUserIsSkipped) {
  REQUIRE_ROOT();
  writeFile(path, "x");
  ASSERT_EQ(chown(path.c_str(), kNobody, kNobody), 0);
  std::optional<std::string> content = "x";
  EXPECT_NE(read(&content).find("Skipping unsafe session file 'alpha'"), std::string::npos);
  EXPECT_EQ(content, std::nullopt);
}

TEST_F(StorageRead, SizeLimitIs65536Bytes) {
  std::optional<std::string> content;
  writeFile(path, std::string(65536, 'x'));
  EXPECT_EQ(read(&content), "");
  ASSERT_TRUE(content);
  EXPECT_EQ(content->size(), 65536u);

  writeFile(path, std::string(65537, 'x'));
  std::string log = read(&content);
  EXPECT_EQ(content, std::nullopt);
  EXPECT_NE(log.find("Skipping oversized session file 'alpha'"), std::string::npos) << log;
}

class StorageWrite : public PrivateHome {
 protected:
  void SetUp() override {
    PrivateHome::SetUp();
    makeStoreDirs();
    finalPath = sessions + "/alpha";
    tempPath = sessions + "/.alpha.Ab3dE6gH";
  }
  std::string write(const std::string& content, bool replace) {
    return raisedBy([&] { writeSessionFileAtomically(tempPath, finalPath, content, replace); });
  }
  std::string finalPath, tempPath;
};

TEST_F(StorageWrite, WritesMode0600WhateverTheUmask) {
  mode_t old = umask(0);
  EXPECT_EQ(write("text\n", false), "");
  umask(old);
  EXPECT_EQ(readFile(finalPath), "text\n");
  EXPECT_EQ(modeOf(finalPath), 0600u);
  EXPECT_EQ(entries(sessions), std::vector<std::string>{"alpha"});
}

TEST_F(StorageWrite, ReplaceOrNot) {
  writeFile(finalPath, "old\n");
  EXPECT_EQ(write("new\n", false), "Could not create session file: File exists");
  EXPECT_EQ(readFile(finalPath), "old\n");
  EXPECT_EQ(entries(sessions), std::vector<std::string>{"alpha"});

  EXPECT_EQ(write("new\n", true), "");
  EXPECT_EQ(readFile(finalPath), "new\n");
  EXPECT_EQ(entries(sessions), std::vector<std::string>{"alpha"});
}

TEST_F(StorageWrite, RefusalsLeaveNoTemporaryFile) {
  // A final file with a second link is refused before anything is written.
  writeFile(finalPath, "old\n");
  ASSERT_EQ(link(finalPath.c_str(), (sessions + "/other").c_str()), 0);
  EXPECT_EQ(write("new\n", true), "Could not replace session file with unsafe hard links");
  EXPECT_EQ(readFile(finalPath), "old\n");
  EXPECT_EQ(entries(sessions), (std::vector<std::string>{"alpha", "other"}));

  // A directory in the way passes the link test and fails at the rename.
  std::filesystem::remove_all(sessions);
  makeDir(sessions);
  makeDir(finalPath);
  EXPECT_EQ(write("new\n", true), "Could not move session file into place: Is a directory");
  EXPECT_EQ(entries(sessions), std::vector<std::string>{"alpha"});
}

TEST_F(StorageWrite, ExistingTemporaryNameIsLeftAlone) {
  writeFile(tempPath, "someone else's\n");
  EXPECT_EQ(write("new\n", true), "Could not create temp session file: File exists");
  EXPECT_EQ(readFile(tempPath), "someone else's\n");
  EXPECT_FALSE(exists(finalPath));
}

TEST_F(StorageWrite, FailedWriteLeavesNeitherTemporaryNorPartialFile) {
  // A file size limit makes the write fail part way through.
  auto writeUnderLimit = [&] {
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = 1000;
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_IGN);
    std::fprintf(stderr, "%s", write(std::string(5000, 'x'), true).c_str());
    std::exit(0);
  };
  EXPECT_EXIT(writeUnderLimit(), ::testing::ExitedWithCode(0), "Could not write session file: File too large");
  EXPECT_EQ(entries(sessions), std::vector<std::string>{});
}

TEST_F(StorageWrite, TouchSetsModificationTimeOfSafeFilesOnly) {
  writeFile(finalPath, "x");
  struct timeval old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(utimes(finalPath.c_str(), old), 0);
  time_t before = time(nullptr);
  EXPECT_TRUE(touchSessionFile(finalPath));
  struct stat st;
  ASSERT_EQ(stat(finalPath.c_str(), &st), 0);
  EXPECT_GE(st.st_mtime, before);

  const std::string link = sessions + "/link";
  symlink(finalPath.c_str(), link.c_str());
  EXPECT_FALSE(touchSessionFile(link));
  chmod(finalPath.c_str(), 0644);
  EXPECT_FALSE(touchSessionFile(finalPath));
  EXPECT_FALSE(touchSessionFile(sessions + "/nosuch"));
}

TEST_F(StorageWrite, DeleteRemovesSafeFilesAndRefusesOthers) {
  EXPECT_EQ(raisedBy([&] { deleteSessionFile(finalPath); }), "");  // nothing there: fine

  const std::string refused =
      "Refusing to delete a session file with unsafe owner, type, links or permissions";
  writeFile(finalPath, "x", 0644);
  EXPECT_EQ(raisedBy([&] { deleteSessionFile(finalPath); }), refused);
  chmod(finalPath.c_str(), 0600);
  const std::string link = sessions + "/link", hard = sessions + "/hard";
  symlink(finalPath.c_str(), link.c_str());
  EXPECT_EQ(raisedBy([&] { deleteSessionFile(link); }), refused);
  ::link(finalPath.c_str(), hard.c_str());
  EXPECT_EQ(raisedBy([&] { deleteSessionFile(finalPath); }), refused);
  unlink(hard.c_str());

  EXPECT_EQ(raisedBy([&] { deleteSessionFile(finalPath); }), "");
  EXPECT_FALSE(exists(finalPath));
  EXPECT_TRUE(exists(link));
}
