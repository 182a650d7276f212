#pragma once
// `korctl gc`: its own argument parsing, what counts as a dead socket, and the passes that
// end idle sessions and remove dead sockets and stale files.
#include <climits>
#include <string>
#include <vector>

namespace kor {

constexpr long long kDefaultIdleLimit = 28800;  // 8 h
// An idle limit no session can reach.
constexpr long long kNeverIdle = LLONG_MAX;

struct GcOptions {
  bool help = false;
  bool idle = false;
  long long idleLimit = kDefaultIdleLimit;  // whole seconds
  bool force = false;
};

// DUR: a number as strtod reads it, then d, h or m (anything else means seconds). Text that
// does not start with a number, and nan, leave limit unchanged; a result beyond the range of
// whole seconds (inf, 1e30) becomes kNeverIdle.
void applyIdleDuration(const std::string& text, long long& limit);
// The words after `gc`.
GcOptions parseGcArguments(const std::vector<std::string>& words);
// Whether a failed connection (its errno) proves the daemon gone: refused, or no such file.
bool isDeadConnectError(int error);

// With options.idle, ends live sessions idle at least options.idleLimit seconds (eof first,
// then a forced stop after 3 s, or at once with options.force); then removes dead sockets with
// their framing files, and control files that strayed into the sessions directory. Reports
// each step on standard output.
void collectGarbage(const GcOptions& options);

}  // namespace kor
