#pragma once
// Safe access to the saved-session directory and its files. The files carry passkeys, so
// every directory must be a real directory of ours with no group or other bits, and every
// file a regular file of ours with mode 0600 and exactly one link.
#include <cstdint>
#include <optional>
#include <string>

namespace kor {
namespace session_storage {

// Largest saved-session file that is read.
constexpr size_t kMaxSessionFileSize = 65536;

// Raises unless path is a directory (not a link) owned by the real user with no 077 bits;
// a missing directory passes only with allowMissing.
void checkSessionDirectory(const std::string& path, bool allowMissing);
// The parent of dir, then dir itself.
void checkSessionDirectories(const std::string& dir, bool allowMissing);
// Creates the directory with mode 0700 when missing and repairs its mode; raises on failure.
void ensureSessionDirectory(const std::string& path);

// The content of a safe file of at most kMaxSessionFileSize bytes, and its modification time
// through modifiedTime. Missing or unreadable files give nothing silently; unsafe or oversized
// ones give nothing and a warning naming the session. Never raises.
std::optional<std::string> readSessionFile(const std::string& path, const std::string& name,
                                           int64_t* modifiedTime);

// Writes content to tempPath (created exclusively, mode 0600, synced), then publishes it as
// finalPath by rename (replace) or link (no replace) and syncs the directory. On failure no
// temporary file is left behind and finalPath never holds a partial text.
void writeSessionFileAtomically(const std::string& tempPath, const std::string& finalPath,
                                const std::string& content, bool replace);

// Sets the modification time of a safe file to now.
bool touchSessionFile(const std::string& path);
// Removes a safe file; a missing file is not an error.
void deleteSessionFile(const std::string& path);

}  // namespace session_storage
}  // namespace kor
