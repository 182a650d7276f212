#include "ctl/CommandTable.h"

#include <algorithm>

namespace kor {

const char* const kVersion = "7.1.1";
const char* const kCursorOptionHelp = "Start at byte offset N (default: oldest retained)";

// Each defined in its cmd_<name>.cpp.
extern const CommandEntry kOpenCommand, kKillCommand, kRunCommand, kReadCommand, kExpectCommand,
    kWriteCommand, kWritelnCommand, kKeyCommand, kWaitCommand, kResizeCommand, kSniffCommand,
    kScreenCommand, kObserveCommand, kAttachCommand, kSessionsCommand, kInfoCommand, kGcCommand,
    kMcpCommand;

namespace {

// The rows in overview order; a null row is an empty line between groups in the overview.
const CommandEntry* const kRows[] = {
    &kOpenCommand,     &kKillCommand,    nullptr,
    &kRunCommand,      &kReadCommand,    &kExpectCommand, &kWriteCommand, &kWritelnCommand, nullptr,
    &kKeyCommand,      &kWaitCommand,    nullptr,
    &kResizeCommand,   &kSniffCommand,   &kScreenCommand,  &kObserveCommand, &kAttachCommand, nullptr,
    &kSessionsCommand, &kInfoCommand,    &kGcCommand,      nullptr,
    &kMcpCommand,
};

const char* const kOverviewHead =
    "Control backgrounded Korvane (kor --ctl) sessions\n"
    "Usage:\n"
    "  korctl <command> [args]\n"
    "\n"
    "  Open a reconnectable session in the background, then read its output and\n"
    "  send it input. Run 'korctl <command> --help' for a command's options.\n"
    "  NAME is a session name (its socket lives under ~/.kor/control) or a socket path.\n"
    "\n";

const char* const kOverviewTail =
    "\n"
    "  -h, --help     show this overview (or `korctl <command> --help`)\n"
    "  -v, --version  print the korctl version\n";

constexpr size_t kNameColumn = 12;

}  // namespace

const std::vector<const CommandEntry*>& commandTable() {
  static const std::vector<const CommandEntry*> table = [] {
    std::vector<const CommandEntry*> entries;
    for (const CommandEntry* row : kRows)
      if (row) entries.push_back(row);
    return entries;
  }();
  return table;
}

const CommandEntry* findCommand(const std::string& word) {
  for (const CommandEntry* entry : commandTable())
    if (word == entry->name) return entry;
  return nullptr;
}

std::string commandDescription(const std::string& command) {
  const CommandEntry* entry = findCommand(command);
  return entry ? entry->description : "";
}

std::string overviewText() {
  std::string text = kOverviewHead;
  for (const CommandEntry* row : kRows) {
    if (!row) {
      text += "\n";
      continue;
    }
    std::string name = row->name;
    name.resize(std::max(name.size() + 1, kNameColumn), ' ');
    text += "  " + name + row->summary + "\n";
  }
  return text + kOverviewTail;
}

void parsePositional(cxxopts::Options& options, std::initializer_list<std::string> names) {
  options.parse_positional(std::vector<std::string>(names));
}

cxxopts::Options buildCommandOptions(const std::string& command) {
  const CommandEntry* entry = findCommand(command);
  cxxopts::Options options("korctl " + command, entry ? entry->description : "");
  options.add_options("")("h,help", "Print help");
  if (entry && entry->addOptions) entry->addOptions(options);
  options.positional_help("");
  options.custom_help(entry ? entry->usage : "NAME");
  return options;
}

std::string commandHelp(const std::string& command) {
  std::string text = buildCommandOptions(command).help({""}, true);
  const CommandEntry* entry = findCommand(command);
  if (entry && entry->helpTail) text += "\n" + entry->helpTail();
  return text;
}

}  // namespace kor
