#pragma once
// The tools `korctl mcp` offers: each one a row of the tool table with its arguments (from which
// its input schema and the argument check both come), its output schema and the routine that
// runs it, built on the same routines as the commands.
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace kor {
namespace mcp {

using Json = nlohmann::ordered_json;

enum class ArgType { kString, kInteger, kNumber, kBoolean, kStringList };

struct ToolArgument {
  const char* name;
  ArgType type;
  const char* description;
  bool required = false;
  Json defaultValue = nullptr;  // filled in when the argument is not given; null: none
  Json constraints = Json::object();  // further schema words: minimum, exclusiveMinimum, minLength, minItems, pattern
};

// What a tool call came to. A failure (unknown session, bad pattern, time-out) is a result with
// isError, never a protocol error; structured is null when there is nothing to show but the
// message.
struct ToolOutcome {
  bool isError = false;
  Json structured = nullptr;
  std::string message;  // added to what the routines printed on standard error
};

struct Tool {
  const char* name;
  const char* title;
  const char* description;
  std::vector<ToolArgument> arguments;
  Json outputProperties;              // the output schema's properties
  std::vector<std::string> outputRequired;
  Json annotations;
  // The call ends on its own when asked to (a run interrupts its command first) rather than
  // being ended from outside.
  bool endsOnCancellation = false;
  ToolOutcome (*call)(const Json& arguments);  // arguments checked, defaults filled in
};

const std::vector<Tool>& toolTable();
// The path korctl was started by: session_open starts the kor beside it, as `open` does.
void setKorctlPath(const std::string& argv0);
const Tool* findTool(const std::string& name);

// The tool as tools/list shows it: name, title, description, inputSchema, outputSchema,
// annotations.
Json toolListing(const Tool& tool);
// "" when the arguments fit the tool's table, else what is wrong (naming the argument, never
// quoting its value, which may be a secret).
std::string checkArguments(const Tool& tool, const Json& arguments);
// The arguments with the defaults of those not given.
Json withDefaults(const Tool& tool, const Json& arguments);

// A failed call's outcome: isError with message (and structured data, when there is any).
ToolOutcome toolFailure(const std::string& message = "", Json structured = nullptr);
// A message or value on one line; strings that are not UTF-8 have their bad bytes replaced
// (U+FFFD) instead of failing.
std::string compactJson(const Json& value);

// A tools/call result: content blocks (the message, then the structured data as JSON text, for
// hosts that read only text), structuredContent when there is any, isError.
Json toolResult(const ToolOutcome& outcome, const std::string& printed);

// Output bytes for a JSON result: under key, the text with invalid UTF-8 replaced; under
// key + "Base64", the exact bytes when they are not valid UTF-8.
void putBytes(Json& object, const std::string& key, const std::string& bytes);
// The schema properties that describe putBytes' two keys.
void describeBytes(Json& properties, const std::string& key, const std::string& what);

}  // namespace mcp
}  // namespace kor
