// korctl run: types one framed shell command into the session, cuts its output and exit
// status out of the terminal output, prints the output verbatim and exits with the status.
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "base/Durations.h"
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "ctl/Commands.h"
#include "ctl/Input.h"
#include "ctl/MarkerFrame.h"
#include "ctl/OscFrame.h"
#include "ctl/OutputRead.h"
#include "ctl/RemoteLogin.h"
#include "ctl/RunCommand.h"
#include "ctl/ShellDetect.h"

namespace kor {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

const std::string kPasteOff = "\x1b[?2004l";
const std::string kPasteOnSwitch = "\x1b[?2004h";
const std::string kPasteEnd = "\x1b[201~";

constexpr useconds_t kCollectSleep = 80000;
constexpr useconds_t kSettleSleep = 20000;
constexpr long long kRecentBytes = 8192;
const auto kSettleLimit = milliseconds(2000);
const auto kStartGrace = milliseconds(2000);
const auto kStartSilence = milliseconds(400);

// Types the interrupt character and waits for the shell to react and go quiet.
void interruptShell(const std::string& name) {
  sendInput(name, "\x03", false);
  settleOutput(name, 200, true);
}

int abortParked(const std::string& name) {
  interruptShell(name);
  std::fputs("korctl: command looks incomplete (shell parked on a continuation prompt); aborted\n", stderr);
  return 125;
}

int timedOut(const std::string& name, const std::string& accumulated, bool pasteOk, ParkedSearch& parked,
             double timeoutSeconds) {
  const char* message = "korctl: run timed out after %.1fs\n";
  if (pasteOk) {
    if (parked.scan(accumulated))
      message = "korctl: no end marker after %.1fs; the shell looks parked on a continuation prompt (malformed body?)\n";
    interruptShell(name);
  }
  std::fprintf(stderr, message, timeoutSeconds);
  return 124;
}

}  // namespace

bool isBlankCommand(const std::string& cmd) {
  return cmd.find_first_not_of(" \t\n\r") == std::string::npos;
}

bool judgePasteOn(const std::string& text) {
  size_t off = text.rfind(kPasteOff);
  if (off == std::string::npos) return true;
  size_t on = text.rfind(kPasteOnSwitch);
  return on != std::string::npos && on > off;
}

bool ParkedSearch::scan(const std::string& text) {
  if (parked) return true;
  const std::string& wanted = sawOff ? kPasteOnSwitch : kPasteOff;
  size_t p = text.find(wanted, resume);
  if (p != std::string::npos && !sawOff) {
    sawOff = true;
    p = text.find(kPasteOnSwitch, p + kPasteOff.size());
  }
  if (p != std::string::npos && sawOff) return parked = true;
  // Both sequences are 8 bytes: one cut off by the end starts in the last 7.
  size_t tail = text.size() >= 7 ? text.size() - 7 : 0;
  if (tail > resume) resume = tail;
  return false;
}

SettleResult settleOutput(const std::string& name, int quietMs, bool needChange) {
  SettleResult result;
  const long long head = headCursorOf(name);
  if (head < 0) return result;  // the lookup has printed why
  long long cursor = head >= kRecentBytes ? head - kRecentBytes : 0;
  const auto hardLimit = Clock::now() + kSettleLimit;
  auto lastChange = Clock::now();
  bool seenChange = false, first = true;
  std::string collected;
  result.ok = true;
  for (;;) {
    OutputChunk chunk;
    if (!fetchOutput(name, cursor, chunk, false)) {
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

int runCommand(const std::string& name, const std::string& cmd, int framing, double timeoutSeconds) {
  if (isBlankCommand(cmd)) return 0;
  // Before anything is typed (the shell probe included): never into a login prompt.
  if (int waiting = awaitLogin(name, durationMillis(timeoutSeconds), timeoutSeconds)) return waiting;

  ShellTraits traits;
  if (framing == kFramingOsc133) {
    traits.oscMarks = true;
    traits.pasteCapable = true;
  } else if (framing == kFramingAuto) {
    traits = detectShellTraits(name);
  }

  // Without a known head (or with a failed read) collection would start in old history, and
  // an earlier command's result could be taken for this one's: give up before sending.
  const SettleResult settled = settleOutput(name, 60, false);
  if (!settled.ok) return 2;
  long long cursor = settled.cursor < 0 ? 0 : settled.cursor;

  const bool pasteOk = framing != kFramingMark && traits.pasteCapable && settled.pasteOn &&
                       cmd.find(kPasteEnd) == std::string::npos;
  const std::string statusRef = traits.statusVar ? "$status" : "$?";
  const std::string token = makeRunToken();
  const std::string frame = traits.oscMarks ? buildOscFrame(cmd, token, pasteOk)
                                            : buildMarkerFrame(cmd, token, pasteOk, statusRef);
  if (sendInput(name, frame, false) != 0) return 2;

  const auto sendTime = Clock::now();
  auto lastOutput = sendTime;
  const auto deadline = sendTime + milliseconds(durationMillis(timeoutSeconds));
  bool started = false;
  std::string accumulated;
  MarkerScanner marker(token);
  OscScanner osc;
  ParkedSearch parked;

  for (;;) {
    if (Clock::now() >= deadline) return timedOut(name, accumulated, pasteOk, parked, timeoutSeconds);
    OutputChunk chunk;
    if (!fetchOutput(name, cursor, chunk, false)) return 2;
    cursor = chunk.nextCursor;
    if (chunk.gap) {
      std::fputs("korctl: output outran the session buffer; result discarded (read it with `korctl read` or "
                 "raise the session's scrollback)\n",
                 stderr);
      return 2;
    }
    if (!chunk.data.empty()) {
      lastOutput = Clock::now();
      accumulated += chunk.data;
    }

    if (traits.oscMarks) {
      osc.scan(accumulated);
      if (osc.endFound) {
        const OscResult found = osc.result(accumulated);
        return writeStdout(found.output) ? found.exitCode : 2;
      }
    } else {
      marker.scan(accumulated);
      if (marker.endFound) {
        const char* out = accumulated.data() + marker.outStart;
        return writeStdout(out, marker.endPos - marker.outStart) ? marker.exitCode : 2;
      }
    }

    if (pasteOk) {
      // A pasted frame the shell did not start can be given up before the time limit.
      const bool isParked = parked.scan(accumulated);
      if (!started) started = traits.oscMarks ? osc.started : marker.lineStarted;
      if (!started) {
        if (isParked) return abortParked(name);
        const auto now = Clock::now();
        if (now - sendTime > kStartGrace && !traits.oscMarks && now - lastOutput > kStartSilence)
          return abortParked(name);
      }
    }
    usleep(kCollectSleep);
  }
}

}  // namespace kor
