#pragma once
// Which program has the session's terminal: the name of its foreground process group's leader
// (the shell at a prompt, vim, python3, ...). The process-table lookup differs per system.
#include <string>

namespace kor {

// The name, "" when it cannot be told (no foreground group, its leader gone). Control bytes
// in it are shown as '?', so it always fits one status-record line.
std::string foregroundProgram(int master);

// The command name of process pid, "" when there is none.
std::string processName(long pid);

}  // namespace kor
