#pragma once
// `run`: types one framed shell command into the session and cuts its output and exit status
// out of the terminal output again.
#include <string>

#include "base/ControlClient.h"

namespace kor {

// Framing codes of `run --framing`.
enum Framing { kFramingAuto = 0, kFramingOsc133 = 1, kFramingMark = 2 };

struct RunResult {
  int status = 2;      // the command's exit status; 2, 124 or 125 when korctl could not get it
  bool ran = false;    // the frame's end was found: output is the command's output
  std::string output;  // its bytes, verbatim
};

// Runs cmd and collects its result; failures are reported on standard error as they happen.
// A blank command runs nothing: status 0, ran false.
RunResult runCommand(const Endpoint& session, const std::string& cmd, Framing framing, double timeoutSeconds);

// Only spaces, tabs, line feeds and carriage returns (or nothing): nothing is run.
bool isBlankCommand(const std::string& cmd);

struct SettleResult {
  long long cursor = 0;  // the next cursor after the last successful read
  bool pasteOn = true;
  bool ok = false;       // the head was known and every read succeeded
};

// Re-reads the last 8 KiB of output until it has been quiet for quietMs (after a change when
// needChange), at most 2 s.
SettleResult settleOutput(const Endpoint& session, int quietMs, bool needChange);

}  // namespace kor
