#include "ctl/RunCommand.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <utility>

#include "base/Cancellation.h"
#include "base/Durations.h"
#include "base/StatusRecord.h"
#include "ctl/Input.h"
#include "ctl/OutputRead.h"
#include "ctl/RemoteLogin.h"
#include "ctl/RunLock.h"
#include "ctl/ShellDetect.h"
#include "text/MarkerFrame.h"
#include "text/OscFrame.h"
#include "text/PasteMode.h"
#include "text/Strip.h"

namespace kor {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr useconds_t kCollectSleep = 80000;
constexpr useconds_t kSettleSleep = 20000;
constexpr long long kRecentBytes = 8192;
const auto kSettleLimit = milliseconds(2000);
const auto kStartGrace = milliseconds(2000);
const auto kStartSilence = milliseconds(400);

RunResult noOutput(int status) {
  RunResult result;
  result.status = status;
  return result;
}

// A time limit spent before anything was typed.
RunResult notTyped(double timeoutSeconds, const std::string& waitingFor) {
  std::fprintf(stderr, "korctl: run timed out after %.1fs %s; nothing was typed\n", timeoutSeconds,
               waitingFor.c_str());
  return noOutput(124);
}

// Called off before anything was typed.
RunResult cancelledUntyped() {
  std::fputs("korctl: run cancelled; nothing was typed\n", stderr);
  return noOutput(kRunCancelled);
}

// Types the interrupt character and waits for the shell to react and go quiet.
void interruptShell(const Endpoint& session) {
  sendInput(session, "\x03", false);
  settleOutput(session, 200, true);
}

// One typed frame, from the moment it was sent until its end shows in the output.
struct Collection {
  const Endpoint& session;
  const ShellTraits traits;
  const bool pasteOk;
  const double timeoutSeconds;
  const bool marksBefore;  // the output before the frame held OSC 133 marks
  OutputReader reader;
  long long cursor;
  MarkerScanner marker;
  OscScanner osc;
  ParkedSearch parked;
  std::string accumulated;

  // The frame's end has been seen: the result is in `result`, its output cut out of
  // `accumulated` in place (which is then gone).
  bool ended(RunResult& result) {
    size_t from, to;
    if (traits.oscMarks) {
      osc.scan(accumulated);
      if (!osc.endFound) return false;
      captureBounds(accumulated, osc.outFrom, osc.end.start, from, to);
      result.status = osc.end.exitCode;
    } else {
      marker.scan(accumulated);
      if (!marker.endFound) return false;
      from = marker.outStart;
      to = marker.endPos;
      result.status = marker.exitCode;
    }
    accumulated.resize(to);
    accumulated.erase(0, from);
    result.output = std::move(accumulated);
    result.ran = true;
    return true;
  }

  bool frameStarted() const { return traits.oscMarks ? osc.started : marker.lineStarted; }

  // What the command printed after the frame started, for a run that gives up. A typed
  // frame's start line may follow continuation prompts; the echo of a pasted frame shows a
  // start line too, but not at the beginning of a line.
  RunResult partial(int status) const {
    RunResult result = noOutput(status);
    if (traits.oscMarks) {
      if (osc.haveC) result.output = cleanCapture(accumulated.substr(osc.outFrom));
    } else if (pasteOk ? marker.lineStarted : marker.outStart > 0) {
      result.output = accumulated.substr(pasteOk ? marker.lineStartEnd : marker.outStart);
    }
    return result;
  }

  // OSC 133 framing on a shell that never showed a mark: the end cannot be told.
  bool noMarks() const { return traits.oscMarks && !marksBefore && !showsOscMarks(accumulated); }

  RunResult reportNoMarks(const char* interrupted) const {
    std::fprintf(stderr,
                 "korctl: the shell of session '%s' emitted no OSC 133 marks; the command was sent, but where it "
                 "ends cannot be told (the shell needs an OSC 133 integration, or use --framing mark)%s\n",
                 session.name.c_str(), interrupted);
    return noOutput(2);
  }

  // Called off while the command runs: it gets an interrupt, the session stays usable.
  RunResult cancelled() {
    interruptShell(session);
    std::fputs("korctl: run cancelled; interrupt sent\n", stderr);
    return partial(kRunCancelled);
  }

  RunResult abortParked() {
    if (noMarks()) return reportNoMarks("");  // the shell is back at its prompt
    interruptShell(session);
    std::fputs("korctl: command looks incomplete (shell parked on a continuation prompt); aborted with an interrupt\n",
               stderr);
    return partial(125);
  }

  RunResult timedOut() {
    if (!pasteOk) {
      if (noMarks()) return reportNoMarks("");
      std::fprintf(stderr, "korctl: run timed out after %.1fs; no interrupt sent (the command may still be running)\n",
                   timeoutSeconds);
      return partial(124);
    }
    const bool isParked = parked.scan(accumulated);
    interruptShell(session);
    if (noMarks()) return reportNoMarks("; interrupt sent");
    if (isParked)
      std::fprintf(stderr, "korctl: no end marker after %.1fs; the shell looks parked on a continuation prompt "
                   "(malformed body?); interrupt sent\n", timeoutSeconds);
    else
      std::fprintf(stderr, "korctl: run timed out after %.1fs; interrupt sent\n", timeoutSeconds);
    return partial(124);
  }

  // The result of the frame, with the cursor where a read continues after it.
  RunResult collect(Clock::time_point deadline) {
    RunResult result = collectUntilDone(deadline);
    result.cursor = cursor;
    return result;
  }

  // Reads the output as it comes (parked in the daemon's waiting read where it serves one, else
  // every 80 ms) until the frame ends, the time limit passes, or a pasted frame the shell did
  // not start can be given up early. The bytes go straight into `accumulated`.
  RunResult collectUntilDone(Clock::time_point deadline) {
    const auto sendTime = Clock::now();
    auto lastOutput = sendTime;
    bool started = false, gap = false;
    ChunkSink sink;
    sink.header = [this, &gap](const CursorReplyHeader& header) {
      cursor = header.nextCursor;
      gap = header.gap;
      return true;
    };
    sink.bytes = [this, &gap](const char* data, size_t length) {
      if (!gap) accumulated.append(data, length);  // a gap discards the result anyway
      return true;
    };
    for (;;) {
      const auto now = Clock::now();
      if (now >= deadline) return timedOut();
      // A pasted marker frame that has not started may be given up once both its grace after
      // sending and the silence after its last output have passed: wait no longer than that.
      auto until = deadline;
      if (pasteOk && !started && !traits.oscMarks)
        until = std::min(until, std::max(sendTime + kStartGrace, lastOutput + kStartSilence) + milliseconds(1));
      const size_t before = accumulated.size();
      const bool read = streamOutput(reader, cursor, waitMillis(until - now), sink, false);
      if (takeCancellation()) return cancelled();
      if (!read) return noOutput(2);
      if (gap) {
        std::fputs("korctl: output outran the session buffer; result discarded (read it with `korctl read` or "
                   "raise the session's scrollback)\n",
                   stderr);
        return noOutput(2);
      }
      if (accumulated.size() > before) lastOutput = Clock::now();
      RunResult result;
      if (ended(result)) return result;
      if (pasteOk) {
        const bool isParked = parked.scan(accumulated);
        if (!started) started = frameStarted();
        if (!started) {
          if (isParked) return abortParked();
          const auto t = Clock::now();
          if (t - sendTime > kStartGrace && !traits.oscMarks && t - lastOutput > kStartSilence) return abortParked();
        }
      }
      if (!reader.waitRead) usleep(kCollectSleep);
    }
  }
};

ShellTraits traitsFor(const Endpoint& session, Framing framing) {
  ShellTraits traits;
  if (framing == kFramingOsc133) {
    traits.oscMarks = true;
    traits.pasteCapable = true;
  } else if (framing == kFramingAuto) {
    traits = detectShellTraits(session);
  }
  return traits;
}

// Settles before the frame is typed, waiting while the shell shows a command still running.
// False with result set when the run ends here.
bool settleBeforeTyping(const Endpoint& session, Clock::time_point deadline, double timeoutSeconds,
                        SettleResult& settled, RunResult& result) {
  for (;;) {
    // Without a known head (or with a failed read) collection would start in old history, and
    // an earlier command's result could be taken for this one's: give up before sending.
    settled = settleOutput(session, 60, false);
    if (!settled.ok) {
      result = noOutput(2);
      return false;
    }
    if (!settled.busy) return true;
    if (cancellationPending()) return true;  // the caller takes it up before typing
    if (Clock::now() >= deadline) {
      result = notTyped(timeoutSeconds,
                        "waiting for the shell of session '" + session.name + "' to finish an earlier command");
      return false;
    }
  }
}

// Waits for the session's run lock; false with result set when the run ends here.
bool waitForTurn(const Endpoint& session, Clock::time_point deadline, double timeoutSeconds, RunLock& lock,
                 RunResult& result) {
  std::string error;
  switch (takeRunLock(session, deadline, lock, error)) {
    case LockResult::kTaken:
      return true;
    case LockResult::kTimedOut:
      result = notTyped(timeoutSeconds, "waiting for another run on session '" + session.name + "' to finish");
      return false;
    case LockResult::kCancelled:
      takeCancellation();
      result = cancelledUntyped();
      return false;
    case LockResult::kFailed:
      break;
  }
  std::fprintf(stderr, "korctl run: cannot lock session '%s' for the run (%s)\n", session.name.c_str(), error.c_str());
  result = noOutput(2);
  return false;
}

}  // namespace

std::string shownOutput(std::string output, bool strip) {
  if (strip) return stripAnsi(output);
  return output;
}

bool isBlankCommand(const std::string& cmd) {
  return cmd.find_first_not_of(" \t\n\r") == std::string::npos;
}

SettleResult settleOutput(const Endpoint& session, int quietMs, bool needChange) {
  SettleResult result;
  if (!fetchStatus(session, result.record)) return result;  // the request has said why
  const long long head = statusFieldIn(result.record, "headCursor");
  if (head < 0) return result;
  long long cursor = head >= kRecentBytes ? head - kRecentBytes : 0;
  const auto hardLimit = Clock::now() + kSettleLimit;
  auto lastChange = Clock::now();
  bool seenChange = false, first = true;
  std::string collected;
  result.ok = true;
  for (;;) {
    OutputChunk chunk;
    if (!fetchOutput(session, cursor, chunk, false)) {
      result.ok = false;
      break;
    }
    collected += chunk.data;
    const bool changed = chunk.nextCursor != cursor;
    const auto t = Clock::now();
    bool stop;
    if (!first && changed) {
      lastChange = t;
      seenChange = true;
      stop = t >= hardLimit;
    } else {
      stop = (t - lastChange >= milliseconds(quietMs) && (seenChange || !needChange)) || t >= hardLimit;
    }
    first = false;
    cursor = chunk.nextCursor;
    if (stop) break;
    usleep(kSettleSleep);
  }
  result.cursor = cursor;
  result.pasteOn = judgePasteOn(collected);
  result.busy = shellLooksBusy(collected);
  result.oscMarks = showsOscMarks(collected);
  return result;
}

RunResult runCommand(const Endpoint& session, const std::string& cmd, Framing framing, double timeoutSeconds) {
  if (isBlankCommand(cmd)) return noOutput(0);
  const long long limitMs = durationMillis(timeoutSeconds);
  if (limitMs <= 0) {
    std::fprintf(stderr, "korctl run: --timeout must be at least 0.001 seconds (got %g)\n", timeoutSeconds);
    return noOutput(2);
  }
  const auto deadline = Clock::now() + milliseconds(limitMs);
  // Before anything is typed (the shell probe included): never into a login prompt.
  if (int waiting = awaitLogin(session, limitMs, timeoutSeconds)) return noOutput(waiting);
  RunLock lock;
  RunResult result;
  if (!waitForTurn(session, deadline, timeoutSeconds, lock, result)) return result;
  const ShellTraits traits = traitsFor(session, framing);
  SettleResult settled;
  if (!settleBeforeTyping(session, deadline, timeoutSeconds, settled, result)) return result;
  if (takeCancellation()) return cancelledUntyped();
  if (Clock::now() >= deadline) return notTyped(timeoutSeconds, "before the command could be typed");

  const bool pasteOk = framing != kFramingMark && traits.pasteCapable && settled.pasteOn &&
                       cmd.find(kPasteEnd) == std::string::npos;
  const std::string statusRef = traits.statusVar ? "$status" : "$?";
  const PasteWord pasteWord =
      parseStatusRecord(settled.record)["foreground"] == "fish" ? PasteWord::kFishUnescape : PasteWord::kQuoted;
  const std::string token = makeRunToken();
  const std::string frame = traits.oscMarks ? buildOscFrame(cmd, token, pasteOk, pasteWord)
                                            : buildMarkerFrame(cmd, token, pasteOk, statusRef, pasteWord);
  if (sendInput(session, frame, false) != 0) return noOutput(2);

  OutputReader reader{session};
  noteStatusRecord(reader, settled.record);  // whether the daemon serves waiting reads
  Collection collection{session,        traits,         pasteOk,       timeoutSeconds, settled.oscMarks,
                        reader,         settled.cursor, MarkerScanner(token), OscScanner(), ParkedSearch(),
                        std::string()};
  return collection.collect(deadline);
}

}  // namespace kor
