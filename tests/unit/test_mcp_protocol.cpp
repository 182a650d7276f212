// The protocol side of `korctl mcp`: what each incoming line is and what the server answers.
#include <gtest/gtest.h>

#include <string>

#include "ctl/McpProtocol.h"

using namespace kor::mcp;

namespace {

std::string request(const std::string& id, const std::string& method, const std::string& params = "{}") {
  return R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + method + R"(","params":)" + params + "}";
}

Reaction answer(Conversation& conversation, const std::string& line) {
  return react(conversation, parseMessage(line));
}

Conversation initialized(const std::string& version = "2025-11-25") {
  Conversation conversation;
  answer(conversation, request("0", "initialize", R"({"protocolVersion":")" + version + R"(","capabilities":{}})"));
  return conversation;
}

int errorCode(const Reaction& reaction) { return reaction.reply["error"]["code"].get<int>(); }

}  // namespace

TEST(McpProtocol, MalformedLinesGetTheirJsonRpcErrors) {
  struct Case {
    std::string line;
    int code;
    Json id;
  };
  const Case cases[] = {
      {"{not json", kParseError, nullptr},
      {R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", kInvalidRequest, nullptr},  // a batch
      {"42", kInvalidRequest, nullptr},
      {R"({"id":7,"method":"ping"})", kInvalidRequest, 7},                  // no jsonrpc
      {R"({"jsonrpc":"1.0","id":"a","method":"ping"})", kInvalidRequest, "a"},
      {R"({"jsonrpc":"2.0","id":null,"method":"ping"})", kInvalidRequest, nullptr},
      {R"({"jsonrpc":"2.0","id":1.5,"method":"ping"})", kInvalidRequest, nullptr},
      {R"({"jsonrpc":"2.0","id":3,"method":5})", kInvalidRequest, 3},
      {R"({"jsonrpc":"2.0","id":3})", kInvalidRequest, 3},
  };
  for (const Case& c : cases) {
    const Incoming incoming = parseMessage(c.line);
    ASSERT_EQ(incoming.kind, Incoming::kInvalid) << c.line;
    EXPECT_EQ(incoming.reply["error"]["code"], c.code) << c.line;
    EXPECT_EQ(incoming.reply["id"], c.id) << c.line;
    EXPECT_EQ(incoming.reply["jsonrpc"], "2.0");
  }
  EXPECT_EQ(parseMessage(R"({"jsonrpc":"2.0","method":"notifications/initialized"})").kind, Incoming::kNotification);
  EXPECT_EQ(parseMessage(R"({"jsonrpc":"2.0","id":"x","result":{}})").kind, Incoming::kResponse);
  EXPECT_EQ(parseMessage(request("\"x\"", "ping")).kind, Incoming::kRequest);
}

TEST(McpProtocol, InitializeNegotiatesTheVersionOnce) {
  for (const auto& asked : {std::make_pair("2025-11-25", "2025-11-25"), std::make_pair("2025-06-18", "2025-06-18"),
                            std::make_pair("2024-11-05", "2025-11-25"), std::make_pair("1999-01-01", "2025-11-25")}) {
    Conversation conversation;
    const Reaction reaction =
        answer(conversation, request("1", "initialize", std::string(R"({"protocolVersion":")") + asked.first + "\"}"));
    EXPECT_EQ(reaction.reply["result"]["protocolVersion"], asked.second);
    EXPECT_TRUE(reaction.reply["result"]["capabilities"].contains("tools"));
    EXPECT_EQ(conversation.version, asked.second);
  }
  Conversation conversation;
  EXPECT_EQ(errorCode(answer(conversation, request("1", "initialize", "{}"))), kInvalidParams);
  EXPECT_EQ(errorCode(answer(conversation, request("2", "tools/list"))), kInvalidRequest);  // not yet
  EXPECT_TRUE(answer(conversation, request("3", "ping")).reply["result"].is_object());    // ping always
  answer(conversation, request("4", "initialize", R"({"protocolVersion":"2025-11-25"})"));
  EXPECT_EQ(errorCode(answer(conversation, request("5", "initialize", R"({"protocolVersion":"2025-11-25"})"))),
            kInvalidRequest);
}

TEST(McpProtocol, RequestsAfterInitialize) {
  Conversation conversation = initialized();
  EXPECT_EQ(answer(conversation, request("1", "tools/list")).reply["result"]["tools"].size(), toolTable().size());
  EXPECT_EQ(errorCode(answer(conversation, request("2", "resources/list"))), kMethodNotFound);
  // An id once used is refused, whether it was answered or is still running; 2 and "2" differ.
  EXPECT_EQ(errorCode(answer(conversation, request("1", "ping"))), kInvalidRequest);
  EXPECT_EQ(answer(conversation, request("1", "ping")).reply["id"], 1);
  EXPECT_TRUE(answer(conversation, request("\"2\"", "ping")).reply.contains("result"));
  // Notifications and responses get no answer.
  EXPECT_TRUE(answer(conversation, R"({"jsonrpc":"2.0","method":"notifications/initialized"})").reply.is_null());
  EXPECT_TRUE(answer(conversation, R"({"jsonrpc":"2.0","id":9,"result":{}})").reply.is_null());
  const Reaction cancel = answer(
      conversation, R"({"jsonrpc":"2.0","method":"notifications/cancelled","params":{"requestId":"r1","reason":"x"}})");
  EXPECT_TRUE(cancel.reply.is_null());
  EXPECT_EQ(cancel.cancelId, "r1");
}

TEST(McpProtocol, ToolCallsAreCheckedBeforeTheyRun) {
  Conversation conversation = initialized();
  const Reaction call = answer(conversation, request("1", "tools/call", R"({"name":"session_read","arguments":{"name":"s"}})"));
  ASSERT_NE(call.tool, nullptr);
  EXPECT_TRUE(call.reply.is_null());
  EXPECT_EQ(call.arguments["cursor"], -1);  // the defaults filled in
  EXPECT_EQ(call.arguments["strip"], false);

  EXPECT_EQ(errorCode(answer(conversation, request("2", "tools/call", R"({"arguments":{}})"))), kInvalidParams);
  EXPECT_EQ(errorCode(answer(conversation, request("3", "tools/call", R"({"name":"nope"})"))), kInvalidParams);
  EXPECT_EQ(errorCode(answer(conversation, request("4", "tools/call", R"({"name":"session_read","arguments":[1]})"))),
            kInvalidParams);
  // Arguments that do not fit: a tool error the model can read, under the current revision...
  const Reaction missing = answer(conversation, request("5", "tools/call", R"({"name":"session_read","arguments":{}})"));
  EXPECT_EQ(missing.tool, nullptr);
  EXPECT_EQ(missing.reply["result"]["isError"], true);
  EXPECT_EQ(missing.reply["result"]["content"][0]["text"], "session_read: missing argument 'name'");
  // ... and a protocol error under the one before it.
  Conversation older = initialized("2025-06-18");
  EXPECT_EQ(errorCode(answer(older, request("5", "tools/call", R"({"name":"session_read","arguments":{}})"))),
            kInvalidParams);
}

TEST(McpTools, ArgumentsAreCheckedAgainstTheTable) {
  const Tool& expect = *findTool("session_expect");
  struct Case {
    std::string arguments;
    std::string problem;
  };
  const Case cases[] = {
      {R"({"name":"s","pattern":"x"})", ""},
      {R"({"name":"s","pattern":"x","cursor":5.0,"timeout":0.5})", ""},
      {R"({"name":"s"})", "missing argument 'pattern'"},
      {R"({"name":"s","pattern":"x","extra":1})", "unknown argument 'extra' (session_expect takes: name, pattern, exact, cursor, fromStart, afterInput, timeout)"},
      {R"({"name":7,"pattern":"x"})", "argument 'name' must be a string"},
      {R"({"name":"","pattern":"x"})", "argument 'name' must not be empty"},
      {R"({"name":"s","pattern":"x","cursor":1.5})", "argument 'cursor' must be an integer"},
      {R"({"name":"s","pattern":"x","cursor":"5"})", "argument 'cursor' must be an integer"},
      {R"({"name":"s","pattern":"x","exact":"yes"})", "argument 'exact' must be true or false"},
      {R"({"name":"s","pattern":"x","timeout":0})", "argument 'timeout' must be greater than 0"},
      {R"({"name":"s","pattern":"x","cursor":-2})", "argument 'cursor' must be at least 0"},
  };
  for (const Case& c : cases) EXPECT_EQ(checkArguments(expect, Json::parse(c.arguments)), c.problem) << c.arguments;
  EXPECT_EQ(checkArguments(*findTool("session_key"), Json::parse(R"({"name":"s","keys":["up",3]})")),
            "argument 'keys' must be a list of strings");
  EXPECT_EQ(checkArguments(*findTool("session_key"), Json::parse(R"({"name":"s","keys":[]})")),
            "argument 'keys' needs at least 1 item(s)");
  EXPECT_EQ(withDefaults(expect, Json::parse(R"({"name":"s","pattern":"x","cursor":5.0})"))["cursor"].dump(), "5");
}

// What a host relies on: each listing's schemas describe what the call takes and gives.
TEST(McpTools, ListingsCarrySchemasThatMatchTheTable) {
  for (const Tool& tool : toolTable()) {
    const Json listing = toolListing(tool);
    EXPECT_EQ(listing["inputSchema"]["type"], "object");
    EXPECT_EQ(listing["inputSchema"]["additionalProperties"], false);
    EXPECT_EQ(listing["inputSchema"]["properties"].size(), tool.arguments.size()) << tool.name;
    for (const std::string& key : tool.outputRequired)
      EXPECT_TRUE(listing["outputSchema"]["properties"].contains(key)) << tool.name << " " << key;
    // The required arguments alone, with the defaults filled in, pass the tool's own check.
    Json arguments = Json::object();
    for (const ToolArgument& argument : tool.arguments) {
      if (!argument.required) continue;
      const Json sample[] = {"x", 1, 1.5, false, Json::array({"up"})};
      arguments[argument.name] = sample[static_cast<int>(argument.type)];
    }
    EXPECT_EQ(checkArguments(tool, withDefaults(tool, arguments)), "") << tool.name;
  }
}

TEST(McpTools, ResultsCarryTheDataAsStructuredContentAndAsText) {
  ToolOutcome done;
  done.structured = Json{{"a", 1}};
  const Json ok = toolResult(done, "korctl: a log line\n");
  EXPECT_EQ(ok["isError"], false);
  EXPECT_EQ(ok["structuredContent"], done.structured);
  ASSERT_EQ(ok["content"].size(), 1u);
  EXPECT_EQ(Json::parse(ok["content"][0]["text"].get<std::string>()), done.structured);

  ToolOutcome failed;
  failed.isError = true;
  failed.structured = Json{{"matched", false}};
  const Json error = toolResult(failed, "korctl: timed out waiting for /x/\n");
  EXPECT_EQ(error["isError"], true);
  ASSERT_EQ(error["content"].size(), 2u);
  EXPECT_EQ(error["content"][0]["text"], "korctl: timed out waiting for /x/");
  EXPECT_FALSE(toolResult(ToolOutcome{true, nullptr, ""}, "").contains("structuredContent"));

  Json bytes = Json::object();
  putBytes(bytes, "data", "ok");
  EXPECT_EQ(bytes, (Json{{"data", "ok"}}));
  putBytes(bytes, "data", "a\xFF");
  EXPECT_EQ(bytes, (Json{{"data", "a\xEF\xBF\xBD"}, {"dataBase64", "Yf8="}}));
}
