#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace kor {

// The most input one request may carry.
constexpr uint32_t kMaxInputLength = 64u * 1024 * 1024;

// Why a request with this header cannot be served (the text of the error reply), or ""
// when its payload should be read.
std::string checkRequestHeader(uint8_t type, uint32_t length);

// A terminal size as a resize request leaves it.
struct TermSize {
  int rows = 24;
  int cols = 80;
  int pixelWidth = 0;
  int pixelHeight = 0;
};

// Applies a serialized TerminalInfo to size (fields it leaves out keep their value);
// returns the error text for a payload the terminal cannot take, or "".
std::string applyResize(const std::string& payload, TermSize& size);

// What the status record shows.
struct SessionStatus {
  std::string name;
  std::string host;
  long long pid = 0;
  long long shellPid = 0;
  bool connected = false;
  long long created = 0;
  long long lastActivity = 0;
  long long headCursor = 0;
  long long tailCursor = 0;
  size_t scrollback = 0;
  int rows = 0;
  int cols = 0;
  long long inputCursor = 0;   // the head when the most recent input was taken
  std::string foreground;      // the program in the terminal's foreground, "" when unknown
  std::string login = "done";  // "connecting", "prompt" while a remote login waits
  std::string loginPrompt;     // what ssh asks, while login is "prompt"
};

std::string formatStatus(const SessionStatus& status);

}  // namespace kor
