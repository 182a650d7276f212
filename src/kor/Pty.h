#pragma once
#include <string>
#include <sys/types.h>
#include <vector>

namespace kor {

// A program running on the slave side of a new pseudo-terminal.
struct PtyChild {
  int master = -1;  // non-blocking, close-on-exec
  pid_t pid = -1;   // leader of its own session and process group
};

// Starts argv[0] (searched in PATH when it has no slash) as argv0 on a new pseudo-terminal of
// rows x cols, with the extra environment entries set and in directory dir. Raises
// std::runtime_error when the terminal cannot be made or the program cannot be executed.
PtyChild spawnInPty(const std::vector<std::string>& argv, const std::string& argv0, int rows, int cols,
                    const std::vector<std::pair<std::string, std::string>>& environment,
                    const std::string& dir);

// Sets the terminal size; the foreground process group gets SIGWINCH.
bool setPtySize(int master, int rows, int cols, int pixelWidth, int pixelHeight);

}  // namespace kor
