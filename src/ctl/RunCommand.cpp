#include "ctl/RunCommand.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "base/Durations.h"
#include "base/StatusRecord.h"
#include "ctl/Input.h"
#include "ctl/OutputRead.h"
#include "ctl/RemoteLogin.h"
#include "ctl/ShellDetect.h"
#include "text/MarkerFrame.h"
#include "text/OscFrame.h"
#include "text/PasteMode.h"

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

// Types the interrupt character and waits for the shell to react and go quiet.
void interruptShell(const Endpoint& session) {
  sendInput(session, "\x03", false);
  settleOutput(session, 200, true);
}

RunResult abortParked(const Endpoint& session) {
  interruptShell(session);
  std::fputs("korctl: command looks incomplete (shell parked on a continuation prompt); aborted\n", stderr);
  return noOutput(125);
}

// One typed frame, from the moment it was sent until its end shows in the output.
struct Collection {
  const Endpoint& session;
  const ShellTraits traits;
  const bool pasteOk;
  const double timeoutSeconds;
  long long cursor;
  MarkerScanner marker;
  OscScanner osc;
  ParkedSearch parked;
  std::string accumulated;

  // The frame's end has been seen: the result is in `result`.
  bool ended(RunResult& result) {
    if (traits.oscMarks) {
      osc.scan(accumulated);
      if (!osc.endFound) return false;
      const OscResult found = osc.result(accumulated);
      result.output = found.output;
      result.status = found.exitCode;
    } else {
      marker.scan(accumulated);
      if (!marker.endFound) return false;
      result.output = accumulated.substr(marker.outStart, marker.endPos - marker.outStart);
      result.status = marker.exitCode;
    }
    result.ran = true;
    return true;
  }

  bool frameStarted() const { return traits.oscMarks ? osc.started : marker.lineStarted; }

  RunResult timedOut() {
    const char* message = "korctl: run timed out after %.1fs\n";
    if (pasteOk) {
      if (parked.scan(accumulated))
        message = "korctl: no end marker after %.1fs; the shell looks parked on a continuation prompt (malformed body?)\n";
      interruptShell(session);
    }
    std::fprintf(stderr, message, timeoutSeconds);
    return noOutput(124);
  }

  // Reads output every 80 ms until the frame ends, the time limit passes, or a pasted frame
  // the shell did not start can be given up early.
  RunResult collect() {
    const auto sendTime = Clock::now();
    auto lastOutput = sendTime;
    const auto deadline = sendTime + milliseconds(durationMillis(timeoutSeconds));
    bool started = false;
    for (;;) {
      if (Clock::now() >= deadline) return timedOut();
      OutputChunk chunk;
      if (!fetchOutput(session, cursor, chunk, false)) return noOutput(2);
      cursor = chunk.nextCursor;
      if (chunk.gap) {
        std::fputs("korctl: output outran the session buffer; result discarded (read it with `korctl read` or "
                   "raise the session's scrollback)\n",
                   stderr);
        return noOutput(2);
      }
      if (!chunk.data.empty()) {
        lastOutput = Clock::now();
        accumulated += chunk.data;
      }
      RunResult result;
      if (ended(result)) return result;
      if (pasteOk) {
        const bool isParked = parked.scan(accumulated);
        if (!started) started = frameStarted();
        if (!started) {
          if (isParked) return abortParked(session);
          const auto now = Clock::now();
          if (now - sendTime > kStartGrace && !traits.oscMarks && now - lastOutput > kStartSilence)
            return abortParked(session);
        }
      }
      usleep(kCollectSleep);
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

}  // namespace

bool isBlankCommand(const std::string& cmd) {
  return cmd.find_first_not_of(" \t\n\r") == std::string::npos;
}

SettleResult settleOutput(const Endpoint& session, int quietMs, bool needChange) {
  SettleResult result;
  const long long head = headCursorOf(session);
  if (head < 0) return result;  // the lookup has printed why
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
  return result;
}

RunResult runCommand(const Endpoint& session, const std::string& cmd, Framing framing, double timeoutSeconds) {
  if (isBlankCommand(cmd)) return noOutput(0);
  // Before anything is typed (the shell probe included): never into a login prompt.
  if (int waiting = awaitLogin(session, durationMillis(timeoutSeconds), timeoutSeconds)) return noOutput(waiting);
  const ShellTraits traits = traitsFor(session, framing);

  // Without a known head (or with a failed read) collection would start in old history, and
  // an earlier command's result could be taken for this one's: give up before sending.
  const SettleResult settled = settleOutput(session, 60, false);
  if (!settled.ok) return noOutput(2);

  const bool pasteOk = framing != kFramingMark && traits.pasteCapable && settled.pasteOn &&
                       cmd.find(kPasteEnd) == std::string::npos;
  const std::string statusRef = traits.statusVar ? "$status" : "$?";
  const std::string token = makeRunToken();
  const std::string frame = traits.oscMarks ? buildOscFrame(cmd, token, pasteOk)
                                            : buildMarkerFrame(cmd, token, pasteOk, statusRef);
  if (sendInput(session, frame, false) != 0) return noOutput(2);

  Collection collection{session, traits, pasteOk, timeoutSeconds, settled.cursor < 0 ? 0 : settled.cursor,
                        MarkerScanner(token), OscScanner(), ParkedSearch(), std::string()};
  return collection.collect();
}

}  // namespace kor
