#pragma once
// Pieces of `run` shared with its tests: the blank-command rule, the paste-mode judgement,
// the continuation-prompt signal and the settle wait before sending.
#include <cstddef>
#include <string>

namespace kor {

// Only spaces, tabs, line feeds and carriage returns (or nothing): nothing is run.
bool isBlankCommand(const std::string& cmd);

// Bracketed paste is not known to be off: no "\e[?2004l", or the last "\e[?2004h" comes
// after the last "\e[?2004l".
bool judgePasteOn(const std::string& text);

// Whether a growing output shows the shell parked on a continuation prompt after a paste:
// "\e[?2004l" and, after the first of those, "\e[?2004h". Looks at each byte about once.
struct ParkedSearch {
  bool scan(const std::string& text);
  size_t resume = 0;
  bool sawOff = false;
  bool parked = false;
};

struct SettleResult {
  long long cursor = 0;  // the next cursor after the last successful read
  bool pasteOn = true;
  bool ok = false;       // the head was known and every read succeeded
};

// Re-reads the last 8 KiB of output until it has been quiet for quietMs (after a change when
// needChange), at most 2 s.
SettleResult settleOutput(const std::string& name, int quietMs, bool needChange);

}  // namespace kor
