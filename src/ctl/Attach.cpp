#include "ctl/Attach.h"

#include <signal.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/select.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>

#include "base/Signals.h"
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "ctl/Input.h"
#include "ctl/OutputRead.h"
#include "ctl/TerminalSize.h"
#include "text/ScreenText.h"
#include "text/TerminalQueries.h"

namespace kor {

size_t findDetachKey(const std::string& typed, bool observe) {
  return typed.find_first_of(observe ? std::string{kDetachKey, kInterruptKey} : std::string{kDetachKey});
}

bool waitForKeyboard() {
  const auto start = std::chrono::steady_clock::now();
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(0, &readable);
  struct timeval timeout = {0, 100000};
  const int ready = select(1, &readable, nullptr, nullptr, &timeout);
  if (ready > 0) return true;
  if (ready < 0 && errno != EINTR) {
    const auto spent =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
    if (spent < 100000) usleep(static_cast<useconds_t>(100000 - spent));
  }
  return false;
}

namespace {

volatile sig_atomic_t windowChanged = 0;
// The terminal mode in force before attach switched to raw mode; the ending signals put it back.
struct termios savedMode;

const int kEndingSignals[] = {SIGTERM, SIGHUP, SIGINT};
struct sigaction previousEnding[3];

void onWindowChange(int) { windowChanged = 1; }

// SIGTERM, SIGHUP or SIGINT from outside while the terminal is raw: restore it, then end the
// way the signal would have ended the process (SIGINT with 130, as everywhere else).
void onEndingSignal(int signo) {
  tcsetattr(0, TCSANOW, &savedMode);
  if (signo == SIGINT) _exit(130);
  setSignalAction(signo, SIG_DFL);
  raise(signo);  // blocked while this handler runs; delivered with the default action on return
}

// Raw mode for the keyboard, undone by restore() on every way out of attach.
struct TerminalMode {
  bool raw = false;

  void enterRaw() {
    if (!isatty(0) || tcgetattr(0, &savedMode) != 0) return;
    for (size_t i = 0; i < 3; ++i) {
      // A signal the caller chose to ignore (nohup) stays ignored.
      sigaction(kEndingSignals[i], nullptr, &previousEnding[i]);
      if (previousEnding[i].sa_handler != SIG_IGN) setSignalAction(kEndingSignals[i], onEndingSignal);
    }
    struct termios rawMode = savedMode;
    cfmakeraw(&rawMode);
    tcsetattr(0, TCSANOW, &rawMode);
    raw = true;
  }

  void restore() {
    if (!raw) return;
    tcsetattr(0, TCSANOW, &savedMode);
    for (size_t i = 0; i < 3; ++i) sigaction(kEndingSignals[i], &previousEnding[i], nullptr);
    raw = false;
  }
};

void sendWindowSize(const Endpoint& session) {
  struct winsize size;
  if (ioctl(0, TIOCGWINSZ, &size) != 0 || size.ws_row == 0) return;
  sendTerminalSize(session, size.ws_row, size.ws_col, size.ws_xpixel, size.ws_ypixel, true);
}

}  // namespace

namespace {

// A waiting read of the attach loop waits this long at most before it asks again.
constexpr uint32_t kAttachWaitMs = 10000;

// What one pass of the loop found.
enum class Pass { kGoOn, kEnded, kDetached, kStop, kOutputFailed };

// Reads the keyboard once it is readable and types (unless observe) what came before a detach
// key; end of input stops the loop.
Pass takeKeyboard(const Endpoint& session, bool observe) {
  char buffer[4096];
  ssize_t n = read(0, buffer, sizeof buffer);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return Pass::kGoOn;
  if (n <= 0) return Pass::kStop;  // end of input, or a keyboard that is gone (a hung-up terminal)
  const std::string typed(buffer, static_cast<size_t>(n));
  const size_t detach = findDetachKey(typed, observe);
  if (!observe) {
    const std::string forward = typed.substr(0, detach);
    if (!forward.empty()) sendInput(session, forward, false);
  }
  return detach != std::string::npos ? Pass::kDetached : Pass::kGoOn;
}

// The output shown: replayed history asks this terminal nothing.
struct Display {
  long long cursor;
  long long live;  // where live output begins; -1: at the first reply's end
  QueryFilter replay;
  OutputChunk chunk;

  bool show() {
    cursor = chunk.nextCursor;
    if (live < 0) live = chunk.nextCursor;
    return chunk.data.empty() || writeStdout(replayedOutput(replay, chunk.data, chunk.nextCursor, live));
  }
};

// A pass with plain reads: the output, then 100 ms for the keyboard.
Pass pollPass(OutputReader& reader, Display& display, bool observe) {
  if (!fetchOutput(reader, display.cursor, 0, display.chunk, true)) return Pass::kEnded;
  if (!display.show()) return Pass::kOutputFailed;
  if (!waitForKeyboard()) return Pass::kGoOn;
  return takeKeyboard(reader.session, observe);
}

// A pass with a waiting read in flight: whichever comes first, output or the keyboard (or a
// window change, which interrupts the wait).
Pass waitingPass(OutputReader& reader, int& readFd, Display& display, bool observe, bool& keyboardOpen) {
  if (readFd < 0) readFd = sendOutputRead(reader, display.cursor, kAttachWaitMs, true);
  if (readFd < 0) return Pass::kEnded;
  struct pollfd fds[2] = {{readFd, POLLIN, 0}, {keyboardOpen ? 0 : -1, POLLIN, 0}};
  if (poll(fds, 2, -1) < 0) return Pass::kGoOn;  // interrupted: a window change, perhaps
  if (fds[1].revents & POLLNVAL) keyboardOpen = false;  // no standard input: output only
  if (fds[0].revents) {
    const int fd = readFd;
    readFd = -1;
    if (!receiveOutput(reader, fd, chunkSink(display.chunk), true)) return Pass::kEnded;
    if (!display.show()) return Pass::kOutputFailed;
  }
  if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) return takeKeyboard(reader.session, observe);
  return Pass::kGoOn;
}

}  // namespace

int attachSession(const Endpoint& session, bool observe, long long cursor, bool resize, bool redraw) {
  OutputReader reader{session};
  std::string record;
  if (!fetchStatus(session, record)) return 1;
  noteStatusRecord(reader, record);
  // Where live output begins; a daemon that does not say has its first reply taken as history.
  Display display{cursor, statusFieldIn(record, "headCursor"), QueryFilter{}, OutputChunk{}};
  ScreenImage screen;
  if (redraw) {
    if (!fetchScreen(session, true, screen, observe ? "observe" : "attach")) return 1;
    display.cursor = display.live = screen.head;
  }

  TerminalMode mode;
  mode.enterRaw();
  if (mode.raw && resize) {
    setSignalAction(SIGWINCH, onWindowChange, SA_RESTART);
    windowChanged = 1;
  }

  std::fprintf(stderr, "[korctl %s '%s' -- press %s to detach]\r\n", observe ? "observe" : "attach",
               session.name.c_str(),
               observe ? "Ctrl-C or Ctrl-]" : "Ctrl-]");

  if (redraw && !writeStdout(screenDrawing(screen))) {
    mode.restore();
    return 1;
  }

  int status = 0;
  int readFd = -1;  // a waiting read in flight
  bool keyboardOpen = true;
  // The first pass reads at once (the retained output is shown before the keyboard is looked
  // at); later ones wait in the daemon where it serves waiting reads.
  bool firstPass = true;
  for (Pass pass = Pass::kGoOn; pass == Pass::kGoOn; firstPass = false) {
    if (windowChanged) {
      windowChanged = 0;
      sendWindowSize(session);
    }
    pass = reader.waitRead && !firstPass ? waitingPass(reader, readFd, display, observe, keyboardOpen)
                                         : pollPass(reader, display, observe);
    if (pass == Pass::kEnded) std::fputs("\r\n[session ended]\r\n", stderr);
    if (pass == Pass::kDetached) std::fputs("\r\n[detached]\r\n", stderr);
    if (pass == Pass::kOutputFailed) status = 1;  // nowhere to show the session any more
  }
  if (readFd >= 0) close(readFd);

  mode.restore();
  return status;
}

using cxxopts::value;

void addAttachOptions(cxxopts::Options& o) {
  o.add_options()("cursor", kCursorOptionHelp, value<long long>())
      ("tail", "Start at the current head (only show new output)")
      ("no-resize",
       "Don't match the session's size to this terminal (by default attach and observe resize "
       "the session on start and on every window change)")
      ("redraw", "Draw the session's current screen instead of replaying its output (wins over --tail and --cursor)");
  o.add_options("positional")("NAME", "session name or socket path", value<std::string>());
  parsePositional(o, {"NAME"});
}

int attachFromCommandLine(const Invocation& call, bool observe) {
  const Endpoint session = resolveEndpoint(call.name);
  // --redraw wins over --tail, which wins over --cursor; a failed head lookup (reported) starts
  // at the oldest byte.
  const bool redraw = call.args.count("redraw") > 0;
  const long long cursor = redraw                 ? -1
                           : call.args.count("tail") ? headCursorOf(session)
                                                     : givenOr(call.args, "cursor", -1LL);
  return attachSession(session, observe, cursor, !call.args.count("no-resize"), redraw);
}

}  // namespace kor
