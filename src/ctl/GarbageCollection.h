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
  bool dryRun = false;   // say what would be stopped or removed; touch nothing
  std::string problem;   // why the words are refused ("" when they are fine)
};

// DUR: a decimal number (digits, a fraction, an exponent; no sign), then at most one of d, h,
// m or s. False for anything else, limit unchanged; a result beyond the range of whole
// seconds (1e30) becomes kNeverIdle.
bool parseIdleDuration(const std::string& text, long long& limit);
// The words after `gc`. A destructive command does nothing it was not told: an unknown word
// or a malformed DUR sets problem. -h or --help anywhere asks for the help only.
GcOptions parseGcArguments(const std::vector<std::string>& words);
// Whether a failed connection (its errno) proves the daemon gone: refused, or no such file.
bool isDeadConnectError(int error);

// What connecting to a scanned socket tells: a daemon of ours answers, nothing can answer
// (refused, no such file, not a socket), or nothing sure (another user's daemon, a full
// backlog, no permission): such a socket is never removed.
enum class Probe { kLive, kDead, kUnknown };
struct Endpoint;
Probe probeSocket(const Endpoint& endpoint);
// One progress line on standard output: format with %s for name.
void reportStep(const char* format, const std::string& name);

// With options.idle, ends live sessions idle at least options.idleLimit seconds (eof first,
// then a forced stop after 3 s, or at once with options.force); then removes dead sockets with
// their framing files, the files of sessions that ended at least options.idleLimit seconds
// ago, and control files that strayed into the sessions directory. Reports each step on
// standard output; with options.dryRun only reports what it would do.
void collectGarbage(const GcOptions& options);

}  // namespace kor
