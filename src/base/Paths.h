#pragma once
#include <string>

namespace kor {

// Where a user's session files live: ~/.kor/sessions and ~/.kor/control.
// Whether a file name is some name followed by suffix (".sock", ".gone", ...): the name before
// it may not be empty.
bool hasSuffixAfterName(const std::string& file, const std::string& suffix);

std::string homeDir();
std::string sessionsDir();
std::string controlDir();

std::string controlSocketPath(const std::string& name);
std::string framingFilePath(const std::string& name);
// Raises for a name that breaks the session name rule.
std::string goneFilePath(const std::string& name);

bool isValidSessionName(const std::string& name);
// Why name cannot name a new session, or "" when it can: empty, a slash, "." or "..", a
// control character (it would split or forge lines wherever the name is shown) or a leading
// '-' (it would read as an option). Looser than the session name rule, which ended reasons
// and saved sessions also need.
std::string newSessionNameProblem(const std::string& name);

// NAME as typed: an existing socket file is used as is, anything else is a session name.
std::string resolveSocketPath(const std::string& name);

// The ended reason of a session with its age ("killed (60s ago)"), or "" when there is none.
std::string readGoneReason(const std::string& name);
// The same, from the text of an ended-reason file and the current time.
std::string parseGoneReason(const std::string& content, long long now);

}  // namespace kor
