#pragma once
#include <string>

namespace kor {

// Creates the directory with mode 0700 when nothing is at path yet; an
// existing entry counts as done, so callers that need a private directory of their own check
// what is there. Returns 0, or the errno of the failed mkdir.
int makePrivateDir(const std::string& path);

}  // namespace kor
