#pragma once
#include <string>
#include <vector>

namespace kor {

// What `open` makes of its words (argv[0], "open", NAME, ...).
struct OpenPlan {
  bool hasName = false;
  std::string name;
  bool hasHost = false;  // a word after NAME that does not begin with '-' (it may be empty)
  std::string host;
  std::string target;  // where the running session is probed: NAME or the last --ctl-socket
  std::vector<std::string> korArgs;  // kor's arguments after the program name
};

OpenPlan planOpen(const std::vector<std::string>& words);
// USER@MACHINE:PORT -> MACHINE.
std::string bareHost(const std::string& host);
// The line the new session's shell runs first.
std::string setupCommand(const std::string& name, const std::string& userCommand);
// The sibling kor of korctl when it is executable, else "kor" (found through PATH by execvp).
// korctl's directory is that of argv0, or for a bare argv0 the first searchPath entry that
// holds an executable of that name.
std::string korProgramFor(const std::string& argv0, const char* searchPath);

}  // namespace kor
