#pragma once
// The Model Context Protocol as `korctl mcp` speaks it: JSON-RPC 2.0 messages, one per line,
// and what the server answers to each. Pure: no I/O, no processes; the server loop
// (McpServer) reads the lines, runs the tool calls and writes what this decides.
#include <set>
#include <string>

#include "ctl/McpTools.h"

namespace kor {
namespace mcp {

// The revisions served, newest first: the current one and the one before it.
extern const char* const kProtocolVersions[2];
// The version a client asked for when it is served, else the newest.
std::string negotiateVersion(const std::string& requested);

enum ErrorCode {
  kParseError = -32700,
  kInvalidRequest = -32600,
  kMethodNotFound = -32601,
  kInvalidParams = -32602,
  kInternalError = -32603,
};

struct Incoming {
  enum Kind { kRequest, kNotification, kResponse, kInvalid } kind = kInvalid;
  Json id = nullptr;  // a request's id (a string or an integer)
  std::string method;
  Json params = nullptr;
  Json reply = nullptr;  // for kInvalid: the error response to send
};
// One line of input as a message; malformed lines come back kInvalid with their error.
Incoming parseMessage(const std::string& line);

Json resultResponse(const Json& id, const Json& result);
Json errorResponse(const Json& id, int code, const std::string& message);
// A message as one line of output (a line feed at the end, none inside).
std::string serializeMessage(const Json& message);

// What the conversation has settled so far.
struct Conversation {
  bool initialized = false;
  std::string version;           // the negotiated protocol revision
  std::set<std::string> usedIds;  // every request id seen, as JSON text
};

// What to do about one message: send reply now, start a tool call, or cancel one.
struct Reaction {
  Json reply = nullptr;
  const Tool* tool = nullptr;  // a tools/call to run (its arguments checked, defaults filled)
  Json arguments = nullptr;
  Json cancelId = nullptr;     // notifications/cancelled: the request to end
};
Reaction react(Conversation& conversation, const Incoming& message);

}  // namespace mcp
}  // namespace kor
