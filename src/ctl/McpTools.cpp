#include "ctl/McpTools.h"

#include <cmath>

#include "text/Utf8.h"

namespace kor {
namespace mcp {

namespace {

const char* typeWord(ArgType type) {
  switch (type) {
    case ArgType::kString: return "string";
    case ArgType::kInteger: return "integer";
    case ArgType::kNumber: return "number";
    case ArgType::kBoolean: return "boolean";
    case ArgType::kStringList: return "array";
  }
  return "string";
}

const char* typeText(ArgType type) {
  switch (type) {
    case ArgType::kString: return "a string";
    case ArgType::kInteger: return "an integer";
    case ArgType::kNumber: return "a number";
    case ArgType::kBoolean: return "true or false";
    case ArgType::kStringList: return "a list of strings";
  }
  return "a string";
}

// An integer as JSON may write it: 5, or 5.0 (a number whose value is whole).
bool isWholeNumber(const Json& value) {
  if (value.is_number_integer()) return true;
  if (!value.is_number_float()) return false;
  const double number = value.get<double>();
  return std::isfinite(number) && std::trunc(number) == number && std::fabs(number) < 9.2e18;
}

bool hasType(const Json& value, ArgType type) {
  switch (type) {
    case ArgType::kString: return value.is_string();
    case ArgType::kInteger: return isWholeNumber(value);
    case ArgType::kNumber: return value.is_number();
    case ArgType::kBoolean: return value.is_boolean();
    case ArgType::kStringList:
      if (!value.is_array()) return false;
      for (const Json& item : value)
        if (!item.is_string()) return false;
      return true;
  }
  return false;
}

std::string quoted(const std::string& name) { return "'" + name + "'"; }

// What the constraints of an argument say about a value of the right type; "" when it fits.
std::string constraintProblem(const ToolArgument& argument, const Json& value) {
  const std::string name = "argument " + quoted(argument.name);
  const Json& rules = argument.constraints;
  if (value.is_number()) {
    const double number = value.get<double>();
    if (rules.contains("exclusiveMinimum") && !(number > rules["exclusiveMinimum"].get<double>()))
      return name + " must be greater than " + rules["exclusiveMinimum"].dump();
    if (rules.contains("minimum") && !(number >= rules["minimum"].get<double>()))
      return name + " must be at least " + rules["minimum"].dump();
  }
  if (rules.contains("minLength") && value.is_string() && value.get<std::string>().empty())
    return name + " must not be empty";
  if (rules.contains("minItems") && value.is_array() && value.size() < rules["minItems"].get<size_t>())
    return name + " needs at least " + rules["minItems"].dump() + " item(s)";
  return "";
}

std::string argumentNames(const Tool& tool) {
  std::string names;
  for (const ToolArgument& argument : tool.arguments) names += (names.empty() ? "" : ", ") + std::string(argument.name);
  return names.empty() ? "none" : names;
}

}  // namespace

const Tool* findTool(const std::string& name) {
  for (const Tool& tool : toolTable())
    if (name == tool.name) return &tool;
  return nullptr;
}

Json toolListing(const Tool& tool) {
  Json properties = Json::object();
  Json required = Json::array();
  for (const ToolArgument& argument : tool.arguments) {
    Json property = {{"type", typeWord(argument.type)}, {"description", argument.description}};
    if (argument.type == ArgType::kStringList) property["items"] = {{"type", "string"}};
    for (const auto& rule : argument.constraints.items()) property[rule.key()] = rule.value();
    if (!argument.defaultValue.is_null()) property["default"] = argument.defaultValue;
    properties[argument.name] = property;
    if (argument.required) required.push_back(argument.name);
  }
  Json input = {{"type", "object"}, {"properties", properties}};
  if (!required.empty()) input["required"] = required;
  input["additionalProperties"] = false;
  Json output = {{"type", "object"}, {"properties", tool.outputProperties}, {"required", tool.outputRequired},
                 {"additionalProperties", false}};
  return Json{{"name", tool.name},       {"title", tool.title},        {"description", tool.description},
              {"inputSchema", input},     {"outputSchema", output},     {"annotations", tool.annotations}};
}

std::string checkArguments(const Tool& tool, const Json& arguments) {
  if (!arguments.is_object()) return "the arguments must be an object";
  for (const auto& given : arguments.items()) {
    bool known = false;
    for (const ToolArgument& argument : tool.arguments) known = known || given.key() == argument.name;
    if (!known) return "unknown argument " + quoted(given.key()) + " (" + tool.name + " takes: " + argumentNames(tool) + ")";
  }
  for (const ToolArgument& argument : tool.arguments) {
    const auto found = arguments.find(argument.name);
    if (found == arguments.end()) {
      if (argument.required) return "missing argument " + quoted(argument.name);
      continue;
    }
    if (!hasType(*found, argument.type))
      return "argument " + quoted(argument.name) + " must be " + typeText(argument.type);
    const std::string problem = constraintProblem(argument, *found);
    if (!problem.empty()) return problem;
  }
  return "";
}

Json withDefaults(const Tool& tool, const Json& arguments) {
  Json filled = arguments.is_object() ? arguments : Json::object();
  for (const ToolArgument& argument : tool.arguments) {
    auto found = filled.find(argument.name);
    if (found == filled.end()) {
      if (!argument.defaultValue.is_null()) filled[argument.name] = argument.defaultValue;
    } else if (argument.type == ArgType::kInteger && found->is_number_float()) {
      *found = static_cast<long long>(found->get<double>());  // 5.0 is read as 5
    }
  }
  return filled;
}

ToolOutcome toolFailure(const std::string& message, Json structured) {
  ToolOutcome outcome;
  outcome.isError = true;
  outcome.message = message;
  outcome.structured = std::move(structured);
  return outcome;
}

std::string compactJson(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

Json toolResult(const ToolOutcome& outcome, const std::string& printed) {
  std::string message = printed + outcome.message;
  while (!message.empty() && (message.back() == '\n' || message.back() == ' ')) message.pop_back();
  Json content = Json::array();
  if (outcome.isError) content.push_back({{"type", "text"}, {"text", message.empty() ? "the tool failed" : message}});
  if (!outcome.structured.is_null())
    content.push_back({{"type", "text"}, {"text", compactJson(outcome.structured)}});
  Json result = {{"content", content}};
  if (!outcome.structured.is_null()) result["structuredContent"] = outcome.structured;
  result["isError"] = outcome.isError;
  return result;
}

void putBytes(Json& object, const std::string& key, const std::string& bytes) {
  if (isValidUtf8(bytes)) {
    object[key] = bytes;
    return;
  }
  object[key] = replaceInvalidUtf8(bytes);
  object[key + "Base64"] = encodeBase64(bytes);
}

void describeBytes(Json& properties, const std::string& key, const std::string& what) {
  properties[key] = {{"type", "string"},
                     {"description", what + ", as UTF-8 text: bytes that are not valid UTF-8 are replaced by U+FFFD, "
                                            "and then " + key + "Base64 holds the exact bytes"}};
  properties[key + "Base64"] = {{"type", "string"},
                                {"contentEncoding", "base64"},
                                {"description", "the exact bytes of " + key +
                                                    " in base64; present only when they are not valid UTF-8"}};
}

}  // namespace mcp
}  // namespace kor
