#pragma once
// The sessions the control directory knows by their sockets (for `sessions` and `gc`).
#include <string>
#include <vector>

#include "base/ControlClient.h"

namespace kor {

// Names of the control sockets (files NAME.sock, NAME not empty) in the control directory,
// sorted byte-wise; empty when the directory cannot be read.
std::vector<std::string> scanControlDir();
// A scanned name addressed through its own control socket, never through a file of the same
// name in the current directory; messages show the bare name, with anything odd in it escaped.
Endpoint controlEndpoint(const std::string& name);

}  // namespace kor
