#pragma once
// The command table of korctl. Each command is one file, cmd_<name>.cpp, that defines one
// CommandEntry; CommandTable.cpp lists them. The overview, `help CMD`, the option tables and
// dispatch are all derived from the table, so a new command is one file and one row.
#include <cxxopts.hpp>
#include <initializer_list>
#include <string>
#include <vector>

namespace kor {

extern const char* const kVersion;

// How the front door treats the words after the command word.
enum class Arguments {
  kSession,    // parsed with the option table; the positional NAME is required
  kNoSession,  // parsed with the option table; no NAME
  kRaw,        // not parsed: the routine reads the raw process arguments itself
};

// What a command routine receives.
struct Invocation {
  std::string command;  // the command word
  int argc = 0;         // the raw process arguments, for kRaw routines
  char** argv = nullptr;
  cxxopts::ParseResult args;  // the parsed options (empty for kRaw)
  std::string name;           // NAME as typed (kSession); the routine resolves it once
};

struct CommandEntry {
  const char* name;
  const char* description;  // the first line of the command's help
  const char* summary;      // the command's line in the overview
  const char* usage;        // what follows "korctl NAME" on the help's usage line
  Arguments arguments;
  void (*addOptions)(cxxopts::Options& options);  // own options and positionals; null for none
  int (*run)(const Invocation& call);             // returns the exit status
  std::string (*helpTail)() = nullptr;            // text after the option list in the help
};

// The commands in overview order.
const std::vector<const CommandEntry*>& commandTable();
// The entry of a command word (exact, case-sensitive), or null.
const CommandEntry* findCommand(const std::string& word);
// "" for a word that is not a command.
std::string commandDescription(const std::string& command);
// The option table of a command word; an unknown word gets the bare table (usage "NAME",
// only --help). Never fails.
cxxopts::Options buildCommandOptions(const std::string& command);
// What `help COMMAND` and `COMMAND --help` print: the table's help with the usage line, then
// the entry's help tail.
std::string commandHelp(const std::string& command);
// The overview of all commands, as `korctl --help` prints it.
std::string overviewText();

// The help of --cursor where it starts a reading command at a byte offset.
extern const char* const kCursorOptionHelp;

// Registers positional arguments (already added to the group "positional") in this order.
void parsePositional(cxxopts::Options& options, std::initializer_list<std::string> names);

// The value of an option given on the command line, else fallback (a default does not count).
template <typename T>
T givenOr(const cxxopts::ParseResult& args, const std::string& option, T fallback) {
  return args.count(option) ? args[option].as<T>() : fallback;
}

}  // namespace kor
