#include "ctl/McpProtocol.h"

#include "ctl/CommandTable.h"

namespace kor {
namespace mcp {

const char* const kProtocolVersions[2] = {"2025-11-25", "2025-06-18"};

namespace {

// Under the older revision a tool's arguments that do not fit its schema are a protocol error;
// the current one makes them a tool error, which the model sees and can correct.
bool argumentErrorsAreToolErrors(const std::string& version) { return version != kProtocolVersions[1]; }

const char* const kInstructions =
    "Each session is a shell kept running in a terminal in the background; it keeps its state "
    "(working directory, variables, running programs) between calls. Start one with session_open, "
    "run a command with session_run (its exact output and exit status), drive interactive "
    "programs with session_write / session_key and wait for their answer with session_expect "
    "(afterInput), look at the output with session_read by byte cursor, end it with session_kill.";

bool isValidId(const Json& id) { return id.is_string() || id.is_number_integer(); }

Incoming invalid(const Json& id, int code, const std::string& message) {
  Incoming incoming;
  incoming.reply = errorResponse(id, code, message);
  return incoming;
}

Json initializeResult(const std::string& version) {
  return Json{{"protocolVersion", version},
              {"capabilities", {{"tools", {{"listChanged", false}}}}},
              {"serverInfo", {{"name", "korctl"}, {"title", "korctl terminal sessions"}, {"version", kVersion}}},
              {"instructions", kInstructions}};
}

Reaction replyWith(Json reply) {
  Reaction reaction;
  reaction.reply = std::move(reply);
  return reaction;
}

Reaction toolCall(const Conversation& conversation, const Incoming& message) {
  const Json& params = message.params;
  if (!params.is_object() || !params.contains("name") || !params["name"].is_string())
    return replyWith(errorResponse(message.id, kInvalidParams, "tools/call needs params.name, a string"));
  const Json arguments = params.contains("arguments") ? params["arguments"] : Json::object();
  if (!arguments.is_object())
    return replyWith(errorResponse(message.id, kInvalidParams, "tools/call params.arguments must be an object"));
  const std::string name = params["name"].get<std::string>();
  const Tool* tool = findTool(name);
  if (!tool) return replyWith(errorResponse(message.id, kInvalidParams, "Unknown tool: " + name));
  const std::string problem = checkArguments(*tool, arguments);
  if (!problem.empty()) {
    if (!argumentErrorsAreToolErrors(conversation.version))
      return replyWith(errorResponse(message.id, kInvalidParams, name + ": " + problem));
    return replyWith(resultResponse(message.id, toolResult(toolFailure(name + ": " + problem), "")));
  }
  Reaction reaction;
  reaction.tool = tool;
  reaction.arguments = withDefaults(*tool, arguments);
  return reaction;
}

Reaction request(Conversation& conversation, const Incoming& message) {
  const Json& id = message.id;
  if (!conversation.usedIds.insert(id.dump()).second)
    return replyWith(errorResponse(id, kInvalidRequest, "request id " + id.dump() + " was already used"));
  const std::string& method = message.method;
  if (method == "ping") return replyWith(resultResponse(id, Json::object()));
  if (method == "initialize") {
    if (conversation.initialized) return replyWith(errorResponse(id, kInvalidRequest, "already initialized"));
    const Json& params = message.params;
    if (!params.is_object() || !params.contains("protocolVersion") || !params["protocolVersion"].is_string())
      return replyWith(errorResponse(id, kInvalidParams, "initialize needs params.protocolVersion, a string"));
    conversation.version = negotiateVersion(params["protocolVersion"].get<std::string>());
    conversation.initialized = true;
    return replyWith(resultResponse(id, initializeResult(conversation.version)));
  }
  if (!conversation.initialized)
    return replyWith(errorResponse(id, kInvalidRequest, "not initialized: send initialize first"));
  if (method == "tools/list") {
    Json tools = Json::array();
    for (const Tool& tool : toolTable()) tools.push_back(toolListing(tool));
    return replyWith(resultResponse(id, Json{{"tools", tools}}));
  }
  if (method == "tools/call") return toolCall(conversation, message);
  return replyWith(errorResponse(id, kMethodNotFound, "Method not found: " + method));
}

}  // namespace

std::string negotiateVersion(const std::string& requested) {
  for (const char* version : kProtocolVersions)
    if (requested == version) return requested;
  return kProtocolVersions[0];
}

Incoming parseMessage(const std::string& line) {
  Json message = Json::parse(line, nullptr, false);
  if (message.is_discarded()) return invalid(nullptr, kParseError, "Parse error");
  if (message.is_array()) return invalid(nullptr, kInvalidRequest, "Invalid Request: batches are not supported");
  if (!message.is_object()) return invalid(nullptr, kInvalidRequest, "Invalid Request: not an object");
  const bool hasId = message.contains("id");
  const Json id = hasId && isValidId(message["id"]) ? message["id"] : Json(nullptr);
  if (!message.contains("jsonrpc") || message["jsonrpc"] != "2.0")
    return invalid(id, kInvalidRequest, "Invalid Request: jsonrpc must be \"2.0\"");
  if (hasId && id.is_null()) return invalid(nullptr, kInvalidRequest, "Invalid Request: id must be a string or an integer");
  Incoming incoming;
  incoming.id = id;
  if (message.contains("method")) {
    if (!message["method"].is_string()) return invalid(id, kInvalidRequest, "Invalid Request: method must be a string");
    incoming.method = message["method"].get<std::string>();
    incoming.params = message.contains("params") ? message["params"] : Json(nullptr);
    incoming.kind = hasId ? Incoming::kRequest : Incoming::kNotification;
    return incoming;
  }
  if (hasId && (message.contains("result") || message.contains("error"))) {
    incoming.kind = Incoming::kResponse;
    return incoming;
  }
  return invalid(id, kInvalidRequest, "Invalid Request: no method");
}

Json resultResponse(const Json& id, const Json& result) {
  return Json{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}};
}

Json errorResponse(const Json& id, int code, const std::string& message) {
  return Json{{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

std::string serializeMessage(const Json& message) {
  return compactJson(message) + "\n";
}

Reaction react(Conversation& conversation, const Incoming& message) {
  switch (message.kind) {
    case Incoming::kInvalid: return replyWith(message.reply);
    case Incoming::kResponse: return Reaction();  // the server sends no requests of its own
    case Incoming::kNotification: {
      Reaction reaction;
      const Json& params = message.params;
      if (message.method == "notifications/cancelled" && params.is_object() && params.contains("requestId") &&
          isValidId(params["requestId"]))
        reaction.cancelId = params["requestId"];
      return reaction;  // notifications/initialized and any other need nothing
    }
    case Incoming::kRequest: return request(conversation, message);
  }
  return Reaction();
}

}  // namespace mcp
}  // namespace kor
