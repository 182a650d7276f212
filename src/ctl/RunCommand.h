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
  // Its bytes, verbatim; after a time-out (124) or an abort (125) what the command printed
  // before run gave up (cleaned as a whole output is), possibly nothing.
  std::string output;
  // Where a read of the session's output continues after the run: the next cursor after the
  // last output read while collecting; -1 when nothing was typed.
  long long cursor = -1;
};

// The status of a run called off through base/Cancellation.h (korctl mcp's tool calls; the
// command line never calls a run off).
constexpr int kRunCancelled = 130;

// Runs cmd and collects its result; failures are reported on standard error as they happen.
// A blank command runs nothing: status 0, ran false. Runs on one session take turns (RunLock);
// the time limit counts from the start, the wait for the turn included. A cancelled run
// (base/Cancellation.h) types nothing more: once its frame is typed it interrupts the command.
RunResult runCommand(const Endpoint& session, const std::string& cmd, Framing framing, double timeoutSeconds);

// A run's output as `run` prints it: verbatim, or as `read --strip` shows it (pass it moved:
// verbatim it is handed back without a copy).
std::string shownOutput(std::string output, bool strip);

// Only spaces, tabs, line feeds and carriage returns (or nothing): nothing is run.
bool isBlankCommand(const std::string& cmd);

struct SettleResult {
  long long cursor = 0;  // the next cursor after the last successful read
  bool pasteOn = true;
  bool ok = false;       // the head was known and every read succeeded
  bool busy = false;     // the recent output shows the shell still running a command
  bool oscMarks = false; // the recent output holds an OSC 133 mark
  std::string record;    // the status record the wait started from
};

// Re-reads the last 8 KiB of output until it has been quiet for quietMs (after a change when
// needChange), at most 2 s.
SettleResult settleOutput(const Endpoint& session, int quietMs, bool needChange);

}  // namespace kor
