// korctl mcp: serves the sessions as tools for AI agents, over the Model Context Protocol on
// standard input and output.
#include "ctl/CommandTable.h"
#include "ctl/McpServer.h"
#include "ctl/McpTools.h"

namespace kor {

namespace {

std::string helpTail() {
  std::string text =
      "  An agent host starts `korctl mcp` and talks to it in JSON-RPC, one message\n"
      "  per line; standard output carries nothing else, log lines go to standard\n"
      "  error. Tool calls run side by side; a cancelled one stops. End of input ends\n"
      "  the server and cancels what still runs.\n"
      "\n"
      "Tools:\n";
  for (const mcp::Tool& tool : mcp::toolTable()) {
    std::string name = tool.name;
    name.resize(std::max<size_t>(name.size() + 1, 16), ' ');
    text += "  " + name + tool.title + "\n";
  }
  return text;
}

int execute(const Invocation& call) { return mcp::serve(call.argv[0]); }

}  // namespace

extern const CommandEntry kMcpCommand = {
    "mcp",
    "Serve the sessions as tools for AI agents (Model Context Protocol on stdio).",
    "serve sessions as tools to an AI agent (MCP over stdio)",
    "",
    Arguments::kNoSession,
    nullptr,
    execute,
    helpTail,
};

}  // namespace kor
