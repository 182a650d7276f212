#pragma once
// `open`: starts a session daemon, `kor --ctl`, unless a session of that name already answers.
#include <string>
#include <vector>

namespace kor {

// What `open` does about its words (argv0, "open", NAME, HOST, kor options...).
struct OpenDecision {
  bool start = false;  // kor is to be started: program with args
  int status = 0;      // otherwise the exit status: the session runs already, or cannot start (reported)
  std::string program;
  std::vector<std::string> args;  // kor's argument vector, program first
};
OpenDecision decideOpen(const std::vector<std::string>& words);

// Replaces the process with kor; returns only when that fails (127, reported).
int execKor(const OpenDecision& decision);

}  // namespace kor
