#pragma once
// Files of one user in a directory others may be able to write to (a shared --ctl-socket
// directory) or plant links in: never opened through a symbolic link, never another user's
// file, always mode 0600.
#include <string>

namespace kor {

// Puts content at path in one step: writes a fresh temporary file (created exclusively,
// never through a link), syncs it and renames it over path. On any failure the temporary
// goes, whatever was at path stays, and the reason is returned; "" on success.
std::string replaceFileAtomically(const std::string& path, const std::string& temporary, const std::string& content);

// Opens path for a lock, creating it when missing: it must be a regular file of this user
// with one name, and is made 0600. -1 with the reason in error otherwise.
int openPrivateLockFile(const std::string& path, std::string& error);

// Whether path still names the file open on fd (same device and inode, not following a link).
// gc removes the lock file of a session that ended long ago while holding it, so one who was
// waiting for that lock holds a removed file once it gets it and must lock the name again.
bool stillNamed(int fd, const std::string& path);

}  // namespace kor
