// The saved-session format, loading, listing and the writer that makes valid files.
#include <sys/time.h>

#include <ctime>

#include "PrivateHome.h"
#include "terminal/SessionStore.h"

using namespace kor;

namespace {

SessionInfo sample(const std::string& name = "alpha") {
  SessionInfo info;
  info.name = name;
  info.host = "db.example";
  info.port = 2022;
  info.id = "id-1";
  info.passkey = "secret";
  info.title = "Title";
  info.savedat = 1700000000;
  return info;
}

const std::string kValid =
    "version=1\nname=alpha\nhost=db\nport=22\nid=i\npasskey=p\nsavedat=5\ntitle=t\n";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

}  // namespace

TEST(SessionText, WriterFormatIsFixed) {
  EXPECT_EQ(formatSessionText(sample()),
            "version=1\nname=alpha\nhost=db.example\nport=2022\nid=id-1\npasskey=secret\n"
            "savedat=1700000000\ntitle=Title\n");
}

TEST(SessionText, ParsingRules) {
  struct Case {
    const char* what;
    std::string text;
    bool loads;
  };
  const Case cases[] = {
      {"valid", kValid, true},
      {"version 2", replaced(kValid, "version=1", "version=2"), false},
      {"version 1 with a blank", replaced(kValid, "version=1", "version=1 "), false},
      {"no version", replaced(kValid, "version=1\n", ""), false},
      {"later version line decides", kValid + "version=2\n", false},
      {"name mismatch", replaced(kValid, "name=alpha", "name=beta"), false},
      {"no name", replaced(kValid, "name=alpha\n", ""), false},
      {"port 0", replaced(kValid, "port=22", "port=0"), false},
      {"port 65536", replaced(kValid, "port=22", "port=65536"), false},
      {"port -1", replaced(kValid, "port=22", "port=-1"), false},
      {"port 65535", replaced(kValid, "port=22", "port=65535"), true},
      {"port with trailing letters", replaced(kValid, "port=22", "port=22ab"), true},
      {"no port", replaced(kValid, "port=22\n", ""), false},
      {"no savedat", replaced(kValid, "savedat=5\n", ""), false},
      {"empty host", replaced(kValid, "host=db", "host="), false},
      {"empty id", replaced(kValid, "id=i", "id="), false},
      {"empty passkey", replaced(kValid, "passkey=p", "passkey="), false},
      {"no title", replaced(kValid, "title=t\n", ""), true},
      {"extra key", kValid + "colour=red\n", true},
      {"blank lines", "\n\n" + replaced(kValid, "\nport", "\n\nport") + "\n\n", true},
      {"no final line feed", kValid.substr(0, kValid.size() - 1), true},
      {"line =x", kValid + "=x\n", false},
      {"line without =", kValid + "junk\n", false},
      {"CR LF line ends", "version=1\r\nname=alpha\nhost=db\r\nport=22\r\nid=i\r\npasskey=p\r\nsavedat=5\r\n", false},
  };
  for (const Case& c : cases) EXPECT_EQ(parseSessionText(c.text, "alpha").has_value(), c.loads) << c.what;
}

TEST(SessionText, ValuesAreTakenAfterTheFirstEquals) {
  auto info = parseSessionText(kValid + "title==x\nhost=a=b\nid=first\nid=second\n", "alpha");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->title, "=x");
  EXPECT_EQ(info->host, "a=b");
  EXPECT_EQ(info->id, "second");
  EXPECT_EQ(info->port, 22);
  EXPECT_EQ(info->savedat, 5);
}

TEST(SessionText, UnconvertibleNumbersRaise) {
  EXPECT_THROW(parseSessionText(replaced(kValid, "port=22", "port=abc"), "alpha"), std::exception);
  EXPECT_THROW(parseSessionText(replaced(kValid, "port=22", "port=99999999999"), "alpha"), std::exception);
  EXPECT_THROW(parseSessionText(replaced(kValid, "savedat=5", "savedat=x"), "alpha"), std::exception);
}

class Store : public PrivateHome {
 protected:
  std::string sessionFile(const std::string& name) { return sessions + "/" + name; }
};

TEST_F(Store, SaveCreatesSafeDirectoriesAndALoadableFile) {
  saveSession(sample(), false);
  EXPECT_EQ(modeOf(kor), 0700u);
  EXPECT_EQ(modeOf(sessions), 0700u);
  EXPECT_EQ(modeOf(sessionFile("alpha")), 0600u);
  EXPECT_EQ(readFile(sessionFile("alpha")), formatSessionText(sample()));
  EXPECT_EQ(entries(sessions), std::vector<std::string>{"alpha"});

  struct timeval times[2] = {{1600000000, 0}, {1600000000, 0}};
  ASSERT_EQ(utimes(sessionFile("alpha").c_str(), times), 0);
  auto info = loadSession("alpha");
  ASSERT_TRUE(info);
  EXPECT_EQ(info->host, "db.example");
  EXPECT_EQ(info->port, 2022);
  EXPECT_EQ(info->passkey, "secret");
  EXPECT_EQ(info->title, "Title");
  EXPECT_EQ(info->savedat, 1700000000);
  EXPECT_EQ(info->lastUsed, 1600000000);

  EXPECT_THROW(saveSession(sample(), false), std::runtime_error);
  SessionInfo changed = sample();
  changed.host = "other";
  saveSession(changed, true);
  EXPECT_EQ(loadSession("alpha")->host, "other");
  EXPECT_EQ(entries(sessions), std::vector<std::string>{"alpha"});
}

TEST_F(Store, SaveRepairsAnOpenHomeDirectory) {
  makeDir(kor, 0755);
  saveSession(sample(), false);
  EXPECT_EQ(modeOf(kor), 0700u);
}

TEST_F(Store, SaveRefusesInvalidFields) {
  struct Case {
    const char* what;
    std::function<void(SessionInfo&)> spoil;
    std::string error;
  };
  const std::string fields = "Session fields must be non-empty and printable";
  const Case cases[] = {
      {"bad name", [](SessionInfo& i) { i.name = "a/b"; }, "Invalid session name: a/b"},
      {"hidden name", [](SessionInfo& i) { i.name = ".alpha"; }, "Invalid session name: .alpha"},
      {"empty host", [](SessionInfo& i) { i.host = ""; }, fields},
      {"host with LF", [](SessionInfo& i) { i.host = "a\nb"; }, fields},
      {"id with CR", [](SessionInfo& i) { i.id = "a\rb"; }, fields},
      {"empty passkey", [](SessionInfo& i) { i.passkey = ""; }, fields},
      {"port 0", [](SessionInfo& i) { i.port = 0; }, fields},
      {"port 65536", [](SessionInfo& i) { i.port = 65536; }, fields},
      {"title with LF", [](SessionInfo& i) { i.title = "x\n"; }, fields},
  };
  for (const Case& c : cases) {
    SessionInfo info = sample();
    c.spoil(info);
    try {
      saveSession(info, true);
      ADD_FAILURE() << c.what << " was saved";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), c.error) << c.what;
    }
  }
  EXPECT_FALSE(exists(kor));  // refused before any directory was made

  SessionInfo untitled = sample();
  untitled.title = "";
  saveSession(untitled, false);
  EXPECT_EQ(loadSession("alpha")->title, "");
}

TEST_F(Store, LoadWarnsOnlyAboutConversionsAndUnsafeDirectories) {
  makeStoreDirs();
  struct Case {
    const char* what;
    std::string text;
    std::string warning;  // "" for none
  };
  const Case cases[] = {
      {"port 0", replaced(kValid, "port=22", "port=0"), ""},
      {"port 65536", replaced(kValid, "port=22", "port=65536"), ""},
      {"name mismatch", replaced(kValid, "name=alpha", "name=beta"), ""},
      {"port abc", replaced(kValid, "port=22", "port=abc"), "Could not load session 'alpha': stoi"},
  };
  for (const Case& c : cases) {
    writeFile(sessionFile("alpha"), c.text);
    std::optional<SessionInfo> info;
    std::string log = captureLog([&] { info = loadSession("alpha"); });
    EXPECT_FALSE(info) << c.what;
    if (c.warning.empty())
      EXPECT_EQ(log, "") << c.what;
    else
      EXPECT_NE(log.find(c.warning), std::string::npos) << c.what << ": " << log;
  }

  writeFile(sessionFile("alpha"), kValid);
  chmod(kor.c_str(), 0755);
  std::string log = captureLog([] { EXPECT_FALSE(loadSession("alpha")); });
  EXPECT_NE(log.find("Could not load session 'alpha': Session directory has unsafe owner or permissions"),
            std::string::npos)
      << log;
  EXPECT_EQ(captureLog([] { EXPECT_FALSE(loadSession("../alpha")); }), "");
}

TEST_F(Store, ListingIsSortedAndSkipsWhatDoesNotLoad) {
  for (const char* name : {"beta", "alpha", "alpha.1"}) saveSession(sample(name), false);
  writeFile(sessionFile(".alpha.Ab3dE6gH"), kValid);          // a writer's temporary file
  writeFile(sessionFile("x.gone"), "1700000000 killed\n");    // a stray control file
  writeFile(sessionFile("v2"), replaced(replaced(kValid, "version=1", "version=2"), "alpha", "v2"));
  std::vector<SessionInfo> listed;
  std::string log = captureLog([&] { listed = listSessions(); });
  std::vector<std::string> names;
  for (const SessionInfo& info : listed) names.push_back(info.name);
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "alpha.1", "beta"}));
  EXPECT_NE(log.find("Skipping unreadable or corrupt session file: x.gone"), std::string::npos) << log;
  EXPECT_NE(log.find("Skipping unreadable or corrupt session file: v2"), std::string::npos) << log;
  EXPECT_EQ(log.find(".alpha."), std::string::npos) << log;
}

TEST_F(Store, ListingOfMissingEmptyOrUnsafeDirectory) {
  // A new user has no sessions directory: nothing listed, nothing said.
  EXPECT_EQ(captureLog([] { EXPECT_TRUE(listSessions().empty()); }), "");

  makeStoreDirs();
  EXPECT_EQ(captureLog([] { EXPECT_TRUE(listSessions().empty()); }), "");

  saveSession(sample(), false);
  chmod(sessions.c_str(), 0750);
  std::string log = captureLog([] { EXPECT_TRUE(listSessions().empty()); });
  EXPECT_NE(log.find("Could not list sessions: Session directory has unsafe owner or permissions"),
            std::string::npos)
      << log;
}

TEST_F(Store, TouchAndDeleteGoThroughTheDirectoryCheck) {
  saveSession(sample(), false);
  struct timeval old[2] = {{1000, 0}, {1000, 0}};
  ASSERT_EQ(utimes(sessionFile("alpha").c_str(), old), 0);
  time_t before = time(nullptr);
  EXPECT_TRUE(touchSession("alpha"));
  EXPECT_GE(loadSession("alpha")->lastUsed, before);
  EXPECT_FALSE(touchSession("a/b"));
  EXPECT_FALSE(touchSession("nosuch"));

  chmod(kor.c_str(), 0755);
  EXPECT_FALSE(touchSession("alpha"));
  EXPECT_THROW(deleteSession("alpha"), std::runtime_error);
  EXPECT_TRUE(exists(sessionFile("alpha")));
  chmod(kor.c_str(), 0700);

  deleteSession("a/b");  // does nothing
  deleteSession("alpha");
  EXPECT_FALSE(exists(sessionFile("alpha")));
  deleteSession("alpha");  // already gone: fine
}
