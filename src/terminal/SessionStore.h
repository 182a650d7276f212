#pragma once
// Saved sessions: one small key=value file per session in ~/.kor/sessions, named like the
// session. korctl only reads them; the writer side defines what a valid file is.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kor {

struct SessionInfo {
  std::string name;
  std::string host;
  int32_t port = 0;
  std::string id;
  std::string passkey;  // a credential: never printed
  std::string title;
  int64_t savedat = 0;
  int64_t lastUsed = 0;  // the file's modification time, not stored in the text
};

// The text of a saved session's file: the version line and seven fields in a fixed order.
std::string formatSessionText(const SessionInfo& info);
// The record in a file's text loaded under name, or nothing when the text is not a valid
// saved session. Raises for numbers that cannot be converted. lastUsed is left 0.
std::optional<SessionInfo> parseSessionText(const std::string& text, const std::string& name);

// Never raise; problems are logged as warnings.
std::optional<SessionInfo> loadSession(const std::string& name);
std::vector<SessionInfo> listSessions();  // sorted by name

// The writer side. saveSession and deleteSession raise std::runtime_error on failure.
void saveSession(const SessionInfo& info, bool replace);
bool touchSession(const std::string& name);
void deleteSession(const std::string& name);

}  // namespace kor
