// Option tables: what each command's parser makes of a command line.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ctl/CommandTable.h"

using namespace kor;

namespace {

cxxopts::ParseResult parse(const std::string& command, std::vector<std::string> words) {
  static std::vector<std::string> storage;
  storage = words;
  storage.insert(storage.begin(), "korctl " + command);
  std::vector<const char*> argv;
  for (auto& w : storage) argv.push_back(w.c_str());
  auto options = buildCommandOptions(command);
  return options.parse(static_cast<int>(argv.size()), argv.data());
}

}  // namespace

TEST(OptionTables, DefaultsApplyWithoutCountingAsGiven) {
  auto wait = parse("wait", {"s"});
  EXPECT_EQ(wait["idle"].as<double>(), 0.5);
  EXPECT_EQ(wait["timeout"].as<double>(), 30);
  EXPECT_EQ(wait.count("timeout"), 0u);
  auto run = parse("run", {"s", "true"});
  EXPECT_EQ(run["timeout"].as<double>(), 60);
  EXPECT_EQ(run["framing"].as<std::string>(), "auto");
  EXPECT_EQ(parse("expect", {"s", "x"})["timeout"].as<double>(), 30);
}

TEST(OptionTables, KillWaitTakesItsValueOnlyAfterEquals) {
  auto bare = parse("kill", {"s", "--wait"});
  EXPECT_EQ(bare["wait"].as<double>(), 10);
  auto withEquals = parse("kill", {"s", "--wait=3"});
  EXPECT_EQ(withEquals["wait"].as<double>(), 3);
  auto separate = parse("kill", {"s", "--wait", "3"});
  EXPECT_EQ(separate["wait"].as<double>(), 10);
  EXPECT_EQ(separate.unmatched(), std::vector<std::string>{"3"});
  EXPECT_EQ(parse("kill", {"s"}).count("wait"), 0u);
}

TEST(OptionTables, PositionalWords) {
  auto write = parse("write", {"s", "hello", "world"});
  EXPECT_EQ(write["TEXT"].as<std::string>(), "hello");
  EXPECT_EQ(write.unmatched(), std::vector<std::string>{"world"});
  auto key = parse("key", {"s", "up", "up", "enter"});
  EXPECT_EQ(key["KEYS"].as<std::vector<std::string>>(), (std::vector<std::string>{"up", "up", "enter"}));
  auto resize = parse("resize", {"s", "24", "--", "-1"});
  EXPECT_EQ(resize["ROWS"].as<int>(), 24);
  EXPECT_EQ(resize["COLS"].as<int>(), -1);
  auto read = parse("read", {"s", "--cursor", "-1"});
  EXPECT_EQ(read["cursor"].as<long long>(), -1);
}

TEST(OptionTables, ParseErrors) {
  EXPECT_THROW(parse("run", {"s", "ls", "-l"}), cxxopts::exceptions::exception);
  EXPECT_THROW(parse("read", {"s", "--cursor", "abc"}), cxxopts::exceptions::exception);
  EXPECT_THROW(parse("read", {"s", "--cursor"}), cxxopts::exceptions::exception);
  EXPECT_THROW(parse("info", {"s", "--bogus"}), cxxopts::exceptions::exception);
  EXPECT_THROW(parse("resize", {"s", "x", "80"}), cxxopts::exceptions::exception);
  EXPECT_THROW(parse("resize", {"s", "24", "-1"}), cxxopts::exceptions::exception);
}

TEST(OptionTables, EveryWordGetsATable) {
  for (const char* word : {"open", "bogus", "", "tail"}) {
    auto options = buildCommandOptions(word);
    std::string help = options.help({""}, true);
    EXPECT_NE(help.find("korctl " + std::string(word) + " NAME\n"), std::string::npos) << word;
  }
  EXPECT_TRUE(commandDescription("tail").empty());
  EXPECT_TRUE(commandDescription("Read").empty());
  EXPECT_EQ(commandDescription("read"), "Read session output without consuming it.");
}

// A row added to the table is found by its word, has its own help, and (for a command about a
// session) a NAME that the front door can read.
TEST(CommandTable, EveryRowIsReachableAndSessionRowsTakeName) {
  std::set<std::string> names;
  for (const CommandEntry* entry : commandTable()) {
    const std::string name = entry->name;
    EXPECT_TRUE(names.insert(name).second) << name;
    EXPECT_EQ(findCommand(name), entry);
    EXPECT_EQ(commandHelp(name).rfind(std::string(entry->description) + "\nUsage:\n  korctl " + name, 0), 0u)
        << commandHelp(name);
    EXPECT_NE(overviewText().find("\n  " + name + " "), std::string::npos) << name;
    if (entry->arguments == Arguments::kSession) {
      EXPECT_EQ(parse(name, {"s"})["NAME"].as<std::string>(), "s") << name;
    }
  }
  EXPECT_EQ(names.size(), 18u);  // the sixteen of the overview, screen and mcp
}
