#pragma once
// gc's tidying of what ended sessions leave in the control directory: NAME.gone (why it
// ended), NAME.framing (run's framing cache), NAME.lock (kor's start lock) and NAME.runlock
// (run's lock).
#include <set>
#include <string>

#include "ctl/GarbageCollection.h"

namespace kor {

// The end time an ended-reason file starts with; false when it holds none.
bool parseGoneTime(const std::string& content, long long& endedAt);

// Removes the files of every session that has no socket left (removedSockets: those pass 2
// removed, or would remove in a dry run), was not ended by this run (endedNow), and ended at least options.idleLimit seconds ago: by
// its ended-reason file's time, else by its newest file. Only sessions that left an
// ended-reason file or a start lock here are considered (a session on a socket elsewhere
// keeps its framing file here while it lives). It all happens under the session's locks,
// taken without waiting: a session being started (or run in) is left alone, and no start can
// begin while its files go. Only plain files of this user are removed.
void removeEndedSessionFiles(const GcOptions& options, const std::set<std::string>& removedSockets,
                             const std::set<std::string>& endedNow);

}  // namespace kor
