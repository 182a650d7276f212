#include "kor/Requests.h"

#include "TerminalInfo.pb.h"
#include "base/ControlClient.h"

namespace kor {

namespace {

constexpr uint32_t kMaxResizeLength = 4096;

std::string sizeError(const char* what, uint32_t expected, uint32_t length) {
  return std::string(what) + " request needs " + std::to_string(expected) + " payload bytes, got " +
         std::to_string(length);
}

}  // namespace

std::string checkRequestHeader(uint8_t type, uint32_t length) {
  switch (type) {
    case kInput:
    case kHiddenInput:
      if (length > kMaxInputLength)
        return "input of " + std::to_string(length) + " bytes exceeds the limit of " +
               std::to_string(kMaxInputLength) + " bytes";
      return "";
    case kResize:
      if (length > kMaxResizeLength) return "resize request of " + std::to_string(length) + " bytes is too large";
      return "";
    case kReadOutput:
      return length == 8 ? "" : sizeError("read", 8, length);
    case kSniff:
      return length == 8 ? "" : sizeError("sniff", 8, length);
    case kWaitRead:
      return length == kWaitReadSize ? "" : sizeError("waiting read", kWaitReadSize, length);
    case kStatus:
      return length == 0 ? "" : sizeError("status", 0, length);
    case kKill:
      return length == 0 ? "" : sizeError("kill", 0, length);
    case kScreen:
      return length == 1 ? "" : sizeError("screen", 1, length);
    default:
      return "unknown request type " + std::to_string(type);
  }
}

std::string applyResize(const std::string& payload, TermSize& size) {
  TerminalInfo info;
  if (!info.ParseFromString(payload)) return "resize request is not a valid TerminalInfo";
  TermSize next = size;
  struct Field {
    bool present;
    int value;
    const char* name;
    int* target;
  } fields[] = {
      {info.has_rows(), info.rows(), "rows", &next.rows},
      {info.has_columns(), info.columns(), "columns", &next.cols},
      {info.has_pixelwidth(), info.pixelwidth(), "pixel width", &next.pixelWidth},
      {info.has_pixelheight(), info.pixelheight(), "pixel height", &next.pixelHeight},
  };
  for (const Field& field : fields) {
    if (!field.present) continue;
    if (field.value < 0 || field.value > 65535)
      return std::string("invalid terminal ") + field.name + " " + std::to_string(field.value) +
             " (must be 0 to 65535)";
    *field.target = field.value;
  }
  size = next;
  return "";
}

std::string formatStatus(const SessionStatus& s) {
  std::string text;
  auto add = [&text](const char* key, const std::string& value) {
    text += key;
    text += '=';
    text += value;
    text += '\n';
  };
  add("name", s.name);
  add("host", s.host);
  add("connected", s.connected ? "1" : "0");
  add("pid", std::to_string(s.pid));
  add("shellPid", std::to_string(s.shellPid));
  add("created", std::to_string(s.created));
  add("lastActivity", std::to_string(s.lastActivity));
  add("headCursor", std::to_string(s.headCursor));
  add("tailCursor", std::to_string(s.tailCursor));
  add("scrollback", std::to_string(s.scrollback));
  add("rows", std::to_string(s.rows));
  add("cols", std::to_string(s.cols));
  add("inputCursor", std::to_string(s.inputCursor));
  add("foreground", s.foreground);
  add(kWaitReadField, "1");
  add("login", s.login);
  if (!s.loginPrompt.empty()) add("loginPrompt", s.loginPrompt);
  return text;
}

}  // namespace kor
