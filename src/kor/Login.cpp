#include "kor/Login.h"

#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "base/Durations.h"
#include "base/FdIo.h"
#include "kor/SignalPipe.h"
#include "kor/Terminal.h"
#include "text/ShellTraits.h"

namespace kor {

namespace {

// How long output must rest before its unterminated last line counts as a prompt.
constexpr auto kPromptQuiet = std::chrono::milliseconds(300);
constexpr size_t kTailKept = 4096;
// Lines of what ssh printed that the foreground shows with a prompt (a host key's fingerprint
// comes before its question).
constexpr size_t kPromptLines = 8;
const Clock::time_point kNever = Clock::time_point::max();
// A shell whose set-up line shows no status line in this time (a slow start-up file, a program
// that is no shell) is reported started as long as it lives; so is one that prints this much
// before it.
constexpr auto kSetupWait = std::chrono::seconds(10);
constexpr size_t kSetupOutputLimit = 65536;

// Output as text lines: escape sequences, carriage returns and other control bytes dropped.
std::string plainText(const std::string& output) {
  std::string text;
  for (size_t i = 0; i < output.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(output[i]);
    if (c == 0x1b && i + 1 < output.size()) {
      char kind = output[++i];
      if (kind == '[') {  // CSI: parameters, then one final byte
        while (i + 1 < output.size() && !(output[i + 1] >= 0x40 && output[i + 1] <= 0x7e)) ++i;
        ++i;
      } else if (kind == ']') {  // OSC: up to BEL or ESC backslash
        while (i + 1 < output.size() && output[i + 1] != '\a' && output[i + 1] != 0x1b) ++i;
        ++i;
        if (i < output.size() && output[i] == 0x1b) ++i;
      } else if (kind >= 0x20 && kind <= 0x2f) {  // intermediate bytes, then one final byte
        while (i + 1 < output.size() && output[i + 1] >= 0x20 && output[i + 1] <= 0x2f) ++i;
        ++i;
      }
      continue;
    }
    // A carriage return of its own starts the line over, as on the screen.
    if (c == '\r' && i + 1 < output.size() && output[i + 1] != '\r' && output[i + 1] != '\n') c = '\n';
    if (c == '\n' || c == '\t' || c >= 0x20) text += static_cast<char>(c == '\t' ? ' ' : c);
  }
  return text;
}

std::string trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The last few non-empty lines of text, for the foreground's report of a prompt.
std::string lastLines(const std::string& output, size_t count) {
  std::string text = plainText(output);
  std::string lines;
  size_t end = text.size();
  while (count > 0 && end > 0) {
    size_t start = text.rfind('\n', end - 1);
    start = start == std::string::npos ? 0 : start + 1;
    std::string line = trimmed(text.substr(start, end - start));
    if (!line.empty()) {
      lines = line + "\n" + lines;
      --count;
    }
    end = start == 0 ? 0 : start - 1;
  }
  return lines;
}

void report(LoginState& login, const std::string& message) {
  login.setupPending = false;
  std::string().swap(login.setupOutput);
  if (login.ready < 0) return;
  (void)writeFully(login.ready, message.data(), message.size());  // a foreground gone needs none
  close(login.ready);
  close(login.lockFd);
  login.ready = -1;
  login.lockFd = -1;
}

// The set-up line is typed (or about to be): the foreground hears once it has run.
void awaitSetupLine(Session& session) {
  LoginState& login = session.login;
  if (login.ready < 0) return;  // the foreground has had its answer (a login prompt)
  // Only a line that prints its status line (korctl's does) can be seen to have run.
  if (session.options.command.find(kSetupEcho) == std::string::npos) {
    report(login, "ok");
    return;
  }
  login.setupPending = true;
  login.setupSearch = SetupEchoSearch();
  login.setupBy = Clock::now() + kSetupWait;
}

}  // namespace

std::string loginNotice(long pid) { return "kill -USR1 " + std::to_string(pid); }

std::string lastLineOf(const std::string& output, bool promptOnly, size_t maxLength) {
  std::string text = plainText(output);
  if (promptOnly && (text.empty() || text.back() == '\n')) return "";
  while (!text.empty()) {
    size_t start = text.rfind('\n', text.size() - 1);
    std::string line = trimmed(text.substr(start == std::string::npos ? 0 : start + 1));
    if (!line.empty() || promptOnly) return line.substr(0, maxLength);
    text.erase(start == std::string::npos ? 0 : start);
  }
  return "";
}

std::string loginStateOf(const Session& session) {
  if (!session.login.pending) return "done";
  return session.login.prompt.empty() ? "connecting" : "prompt";
}

void beginLogin(Session& session, int ready, int lockFd) {
  LoginState& login = session.login;
  login.pending = true;
  login.ready = ready;
  login.lockFd = lockFd;
  login.lastOutput = Clock::now();
  login.reportBy = login.lastOutput + std::chrono::milliseconds(durationMillis(session.options.loginTimeout));
}

void beginSetup(Session& session, int ready, int lockFd) {
  session.login.ready = ready;
  session.login.lockFd = lockFd;
  awaitSetupLine(session);
}

void noteLoginOutput(Session& session, const char* data, size_t length) {
  LoginState& login = session.login;
  if (login.setupPending) {
    login.setupOutput.append(data, length);
    if (login.setupSearch.search(login.setupOutput) || login.setupOutput.size() > kSetupOutputLimit)
      report(login, "ok");
  }
  if (!login.remote) return;
  login.tail.append(data, length);
  if (login.tail.size() > 2 * kTailKept) login.tail.erase(0, login.tail.size() - kTailKept);
  if (!login.pending) return;
  login.prompt.clear();
  login.quietChecked = false;
  login.lastOutput = Clock::now();
}

void noteLoginInput(Session& session) {
  LoginState& login = session.login;
  if (!login.pending || login.prompt.empty()) return;
  login.prompt.clear();
  login.quietChecked = true;  // the old prompt is still the last text: look again after new output
}

Clock::time_point advanceLogin(Session& session) {
  LoginState& login = session.login;
  if (login.setupPending) {
    if (!session.terminal.shellAlive) return kNever;  // finishLogin tells why
    if (Clock::now() < login.setupBy) return login.setupBy;
    report(login, "ok");
  }
  if (!login.pending) return kNever;
  if (takeLoginNotice()) {
    login.pending = false;
    login.prompt.clear();
    awaitSetupLine(session);
    if (!session.options.command.empty()) {
      queueInput(session.terminal, session.options.command + "\n", false);
      writeTerminal(session);
    }
    return login.setupPending ? login.setupBy : kNever;
  }
  if (!session.terminal.shellAlive) return kNever;  // finishLogin tells why
  auto now = Clock::now();
  if (!login.quietChecked && now >= login.lastOutput + kPromptQuiet) {
    login.quietChecked = true;
    login.prompt = lastLineOf(login.tail, true);
    if (!login.prompt.empty()) report(login, "prompt\n" + lastLines(login.tail, kPromptLines));
  }
  if (login.ready >= 0 && now >= login.reportBy) report(login, "connecting\n" + lastLineOf(login.tail, false));
  Clock::time_point due = login.ready >= 0 ? login.reportBy : kNever;
  if (!login.quietChecked && login.lastOutput + kPromptQuiet < due) due = login.lastOutput + kPromptQuiet;
  return due;
}

std::string endedReason(const Session& session, const std::string& reason) {
  const LoginState& login = session.login;
  std::string full = reason;
  // When ssh itself ended, its last words (or the remote side's) say why.
  std::string last = login.remote && session.ending ? lastLineOf(login.tail, false) : "";
  if (!last.empty()) full += ": " + last;
  return full;
}

// Ended while logging in, the login failed; once logged in, the session itself ended.
void finishLogin(Session& session, const std::string& reason) {
  report(session.login, (session.login.pending ? "ended\n" : "gone\n") + reason);
}

int reportLogin(const KorOptions& options, const std::string& report) {
  if (report == "ok") return 0;
  size_t newline = report.find('\n');
  std::string kind = report.substr(0, newline);
  std::string text = newline == std::string::npos ? "" : report.substr(newline + 1);
  const char* name = options.name.c_str();
  if (kind == "prompt") {
    std::fprintf(stderr, "kor: session '%s' waits at a login prompt of %s:\n", name, options.host.c_str());
    for (size_t start = 0; start < text.size();) {
      size_t end = text.find('\n', start);
      std::fprintf(stderr, "  %s\n", text.substr(start, end - start).c_str());
      start = end == std::string::npos ? text.size() : end + 1;
    }
    std::fprintf(stderr,
                 "kor: answer with `korctl writeln %s ANSWER`, or `korctl writeln %s --secret` for a password; "
                 "the session is set up once the login is done\n",
                 name, name);
    return kLoginPendingStatus;
  }
  if (kind == "connecting") {
    std::fprintf(stderr, "kor: session '%s' is still logging in to %s after %gs%s%s; it goes on "
                 "(`korctl read %s` shows what ssh printed)\n", name, options.host.c_str(), options.loginTimeout,
                 text.empty() ? "" : ": ", text.c_str(), name);
    return kLoginPendingStatus;
  }
  if (kind == "ended") throw std::runtime_error("could not log in to " + options.host + ": " + text);
  if (kind == "gone") throw std::runtime_error("session '" + options.name + "' ended: " + text);
  throw std::runtime_error(report.empty() ? "the session daemon ended during start-up" : report);
}

}  // namespace kor
