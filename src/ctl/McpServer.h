#pragma once
#include <string>

namespace kor {
namespace mcp {

// Serves the Model Context Protocol on standard input and output until end of input (or
// SIGTERM or SIGINT): messages one per line, tool calls run at the same time, each in a process
// of its own. Standard output carries nothing but protocol messages. Returns the exit status.
int serve(const std::string& argv0);

}  // namespace mcp
}  // namespace kor
