#pragma once

namespace kor {

// The whole of `kor`: parses the command line, starts the session in the background and
// returns the foreground's exit status (0 once the session serves its control socket).
int runKor(int argc, char** argv);

}  // namespace kor
