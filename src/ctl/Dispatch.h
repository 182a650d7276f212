#pragma once

namespace kor {

// The front door of korctl: the global flags, overview and help, then one command of the
// command table with its parsed arguments. Returns the process exit status.
int dispatch(int argc, char** argv);

}  // namespace kor
