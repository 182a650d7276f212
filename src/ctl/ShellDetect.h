#pragma once
// How `run --framing auto` finds a session's shell traits: the session's .framing file, else
// the set-up echo in its history, else a probe typed into the shell.
#include <string>

#include "base/ControlClient.h"
#include "text/ShellTraits.h"

namespace kor {

// The traits for run --framing auto: the .framing file, else the session's history, else a
// probe; the file is written only when the shell was seen to answer.
ShellTraits detectShellTraits(const Endpoint& session);

// The traits of a valid .framing file of the session name; false when there is none (or it is
// not a regular file with one link, or is a symbolic link).
bool readFramingCache(const std::string& name, ShellTraits& traits);
// Writes the file with mode 0600, making the control directory private first; silently does
// nothing when the file cannot be opened or is not a regular file with one link.
void writeFramingCache(const std::string& name, const ShellTraits& traits);
// Judged from the set-up echo in the retained history; false when it is not found in 3 s.
bool scanSetupEcho(const Endpoint& session, ShellTraits& traits);
// Types a probe line and judges the reaction; answered tells whether the shell reacted
// (the probe echoed, or a D mark appeared).
ShellTraits probeShell(const Endpoint& session, bool& answered);
// Creates the directory (and parents) and sets its mode to exactly 0700; raises
// "could not create PATH: ..." when it cannot be created.
void ensurePrivateDir(const std::string& path);

}  // namespace kor
