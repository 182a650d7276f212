#include "ctl/OpenPlan.h"

#include <unistd.h>

#include "base/ShellQuote.h"

namespace kor {

std::string bareHost(const std::string& host) {
  std::string rest = host;
  size_t at = rest.find('@');
  if (at != std::string::npos) rest.erase(0, at + 1);
  size_t colon = rest.find(':');
  if (colon != std::string::npos) rest.erase(colon);
  return rest;
}

// The history-expansion switch stands on a line of its own: where `set` has no such option
// (dash, mksh) its error would otherwise abandon the whole line, and with it the export and the
// KORCTL_EC echo that detection looks for. Each line starts with a space, which keeps it out of
// the history of shells that allow it (bash's ignorespace, zsh's HIST_IGNORE_SPACE).
std::string setupCommand(const std::string& name, const std::string& userCommand) {
  std::string command = " set +o histexpand 2>/dev/null\n export KORCTL_SESSION='" + quoteForSingleQuotes(name) + "'";
  if (!userCommand.empty()) command += "; " + userCommand;
  return command + "; echo \"KORCTL_EC=$status\"";
}

OpenPlan planOpen(const std::vector<std::string>& words) {
  OpenPlan plan;
  if (words.size() < 3) return plan;
  plan.hasName = true;
  plan.name = words[2];
  plan.target = plan.name;
  const bool hasHost = words.size() > 3 && (words[3].empty() || words[3][0] != '-');
  plan.hasHost = hasHost;
  if (hasHost) plan.host = words[3];
  std::vector<bool> excluded(words.size(), false);
  std::string userCommand;
  for (size_t i = 3; i < words.size(); ++i) {
    const std::string& word = words[i];
    bool hasNext = i + 1 < words.size();
    if (word == "--ctl-socket" && hasNext) {
      plan.target = words[++i];
    } else if (word.compare(0, 13, "--ctl-socket=") == 0) {
      plan.target = word.substr(13);
    } else if (word == "--name" && hasNext) {
      ++i;
    } else if (word == "--command" && hasNext) {
      userCommand = words[i + 1];
      excluded[i] = excluded[i + 1] = true;
      ++i;
    } else if (word.compare(0, 10, "--command=") == 0) {
      userCommand = word.substr(10);
      excluded[i] = true;
    }
  }
  plan.korArgs = {"--ctl", "--name", plan.name};
  for (size_t i = 3; i < words.size(); ++i) {
    if ((hasHost && i == 3) || excluded[i]) continue;
    plan.korArgs.push_back(words[i]);
  }
  plan.korArgs.push_back("--command");
  plan.korArgs.push_back(setupCommand(plan.name, userCommand));
  if (hasHost) plan.korArgs.push_back(plan.host);
  return plan;
}

std::string korProgramFor(const std::string& argv0, const char* searchPath) {
  std::string directory;
  size_t slash = argv0.rfind('/');
  if (slash != std::string::npos) {
    directory = argv0.substr(0, slash + 1);
  } else if (searchPath && !argv0.empty()) {
    // Started through PATH: the directory the shell found korctl in, as execvp searches it
    // (an empty entry is the current directory).
    std::string path = searchPath;
    for (size_t start = 0;;) {
      size_t end = path.find(':', start);
      std::string entry = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
      std::string dir = entry.empty() ? "./" : entry + "/";
      if (access((dir + argv0).c_str(), X_OK) == 0) {
        directory = dir;
        break;
      }
      if (end == std::string::npos) break;
      start = end + 1;
    }
  }
  if (directory.empty()) return "kor";
  std::string candidate = directory + "kor";
  return access(candidate.c_str(), X_OK) == 0 ? candidate : "kor";
}

}  // namespace kor
