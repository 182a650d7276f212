#pragma once
// The session's terminal: starting the shell on it, its output, its input, and its end.
#include <cstddef>
#include <string>
#include <vector>

#include "kor/Session.h"

namespace kor {

// What runs in the terminal: a local login shell, or ssh to the host.
struct Program {
  std::vector<std::string> argv;
  std::string argv0;
  bool remote = false;  // ssh, which logs in before the shell runs
};

// Starts the program on a new pseudo-terminal of the session's size; raises when it cannot.
void startShell(Session& session, const Program& program);
// Types the session's set-up line, waiting up to a few seconds for the terminal to take it.
void typeSetupLine(Session& session);

// Reads terminal output (a bounded amount per call) into the output stream, the exchange
// record and the activity time; marks the terminal closed once the other side has gone.
void readTerminal(Session& session);

// Queues input for the terminal, behind what is already waiting.
void queueInput(Terminal& terminal, std::string bytes, bool hidden);
// Writes queued input as the terminal takes it, in order, recording what it writes.
void writeTerminal(Session& session);

// After SIGCHLD: notices the shell's end and starts draining what it left.
void reapShell(Session& session);
// Hangs up the shell's process group, then kills what is left after a short grace.
void hangUpShell(Terminal& terminal);
// The ended reason for the wait status of what ran in the terminal ("shell" or "ssh").
std::string exitReason(int status, const std::string& what);

}  // namespace kor
