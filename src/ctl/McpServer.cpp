#include "ctl/McpServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <stdexcept>
#include <vector>

#include "base/Cancellation.h"
#include "base/FdIo.h"
#include "base/Signals.h"
#include "ctl/McpProtocol.h"

namespace kor {
namespace mcp {

namespace {

// Each tool call runs in a child process: the routines it calls poll and pause as the commands
// do and print their messages on standard error, so a child's standard error is the call's
// message, a call is cancelled by a signal to its process, and calls run side by side while
// this process stays single-threaded and always ready to read the next message.

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxCalls = 32;              // tool calls running at once
constexpr size_t kMaxLine = 64 * 1024 * 1024;  // bytes of one message
constexpr size_t kMaxMessages = 64 * 1024;     // bytes of a call's messages kept
// A cancelled call ends on its own (a run types an interrupt and waits for the shell to settle,
// at most about 2 s); one that has not after this is killed.
constexpr auto kCancelGrace = std::chrono::seconds(5);

int signalPipe[2] = {-1, -1};
volatile sig_atomic_t stopSignal = 0;

void wake(char byte) {
  const int saved = errno;
  ssize_t ignored = write(signalPipe[1], &byte, 1);
  (void)ignored;
  errno = saved;
}
void onChild(int) { wake('c'); }
void onStop(int sig) {
  stopSignal = sig;
  wake('s');
}

struct Call {
  Json id;
  const Tool* tool = nullptr;
  pid_t pid = -1;
  int resultFd = -1;   // the child's result: one JSON object
  int messageFd = -1;  // its standard output and error
  std::string result, messages;
  bool exited = false;
  int status = 0;
  bool cancelled = false;
  Clock::time_point killAt = Clock::time_point::max();
};

struct Server {
  int out = -1;  // the protocol's standard output
  bool reading = true;
  std::string input;
  size_t scanned = 0;     // input before this holds no line feed
  bool skipping = false;  // an overlong message is being passed over up to its line end
  Conversation conversation;
  std::list<Call> calls;
};

void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// Reads what is there; closes the descriptor at its end. Keeps at most cap bytes.
void drainInto(int& fd, std::string& into, size_t cap) {
  char buffer[65536];
  while (fd >= 0) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      if (into.size() < cap) into.append(buffer, std::min(static_cast<size_t>(got), cap - into.size()));
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      return;
    } else {
      closeFd(fd);
    }
  }
}

void send(Server& server, const Json& message) {
  if (server.out < 0) return;
  const std::string line = serializeMessage(message);
  if (!writeFully(server.out, line.data(), line.size())) {
    std::fprintf(stderr, "korctl mcp: standard output closed; ending\n");
    closeFd(server.out);
    server.reading = false;
  }
}

void cancel(Call& call) {
  if (call.cancelled || call.exited) return;
  call.cancelled = true;
  call.killAt = Clock::now() + kCancelGrace;
  if (kill(-call.pid, SIGTERM) != 0) kill(call.pid, SIGTERM);  // not yet a group of its own
}

void stopReading(Server& server) {
  server.reading = false;
  for (Call& call : server.calls) cancel(call);
}

// In the child: the tool's routine with its own standard streams, then its outcome as JSON.
[[noreturn]] void runCall(const Server& server, const Tool& tool, const Json& arguments, int resultFd, int messageFd) {
  setsid();  // a process group of its own, so a cancellation reaches what it starts too
  for (int sig : {SIGTERM, SIGINT, SIGCHLD, SIGPIPE, SIGHUP}) setSignalAction(sig, SIG_DFL);
  if (tool.endsOnCancellation) acceptCancellation(SIGTERM);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  dup2(messageFd, 1);
  dup2(messageFd, 2);
  for (int fd : {null, messageFd})
    if (fd > 2) close(fd);
  for (int fd : {server.out, signalPipe[0], signalPipe[1]}) close(fd);
  for (const Call& other : server.calls)
    for (int fd : {other.resultFd, other.messageFd}) close(fd);

  ToolOutcome outcome;
  try {
    outcome = tool.call(arguments);
  } catch (const std::exception& error) {
    outcome = toolFailure(std::string("korctl mcp: ") + error.what());
  }
  const std::string text =
      compactJson(Json{{"isError", outcome.isError}, {"structured", outcome.structured}, {"message", outcome.message}});
  std::fflush(stdout);
  std::fflush(stderr);
  _exit(writeFully(resultFd, text.data(), text.size()) ? 0 : 1);
}

void refuseCall(Server& server, const Json& id, const std::string& message) {
  send(server, resultResponse(id, toolResult(toolFailure(message), "")));
}

void startCall(Server& server, const Json& id, const Tool& tool, const Json& arguments) {
  if (server.calls.size() >= kMaxCalls) {
    return refuseCall(server, id, "korctl mcp: " + std::to_string(kMaxCalls) + " tool calls are running; try again when one has ended");
  }
  int result[2], messages[2];
  if (pipe2(result, O_CLOEXEC) != 0) return refuseCall(server, id, "korctl mcp: cannot start the call: pipe failed");
  if (pipe2(messages, O_CLOEXEC) != 0) {
    close(result[0]);
    close(result[1]);
    return refuseCall(server, id, "korctl mcp: cannot start the call: pipe failed");
  }
  sigset_t block, previous;
  sigemptyset(&block);
  for (int sig : {SIGTERM, SIGINT, SIGCHLD}) sigaddset(&block, sig);
  sigprocmask(SIG_BLOCK, &block, &previous);  // the child sets its own handlers first
  std::fflush(stderr);
  const pid_t pid = fork();
  if (pid == 0) {
    close(result[0]);
    close(messages[0]);
    runCall(server, tool, arguments, result[1], messages[1]);
  }
  sigprocmask(SIG_SETMASK, &previous, nullptr);
  close(result[1]);
  close(messages[1]);
  if (pid < 0) {
    close(result[0]);
    close(messages[0]);
    return refuseCall(server, id, "korctl mcp: cannot start the call: fork failed");
  }
  setNonBlockingAndCloseOnExec(result[0]);
  setNonBlockingAndCloseOnExec(messages[0]);
  Call call;
  call.id = id;
  call.tool = &tool;
  call.pid = pid;
  call.resultFd = result[0];
  call.messageFd = messages[0];
  server.calls.push_back(std::move(call));
}

// What the child's result says, or why there is none.
ToolOutcome outcomeOf(const Call& call) {
  ToolOutcome outcome;
  const Json envelope = Json::parse(call.result, nullptr, false);
  if (WIFEXITED(call.status) && WEXITSTATUS(call.status) == 0 && envelope.is_object()) {
    outcome.isError = envelope.value("isError", true);
    outcome.structured = envelope.value("structured", Json(nullptr));
    outcome.message = envelope.value("message", std::string());
    return outcome;
  }
  outcome = toolFailure(WIFSIGNALED(call.status)
                            ? "korctl mcp: the call's process ended by signal " + std::to_string(WTERMSIG(call.status))
                            : "korctl mcp: the call's process ended without a result");
  std::fprintf(stderr, "%s (%s)\n", outcome.message.c_str(), call.tool->name);
  return outcome;
}

void finish(Server& server, Call& call) {
  drainInto(call.resultFd, call.result, std::string::npos);
  drainInto(call.messageFd, call.messages, kMaxMessages);
  closeFd(call.resultFd);
  closeFd(call.messageFd);
  if (call.cancelled) return;  // a cancelled request gets no response
  const ToolOutcome outcome = outcomeOf(call);
  if (!outcome.isError && !call.messages.empty()) std::fputs(call.messages.c_str(), stderr);  // a log record
  send(server, resultResponse(call.id, toolResult(outcome, call.messages)));
}

void reapChildren(Server& server) {
  int status;
  pid_t pid;
  while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
    for (Call& call : server.calls) {
      if (call.pid != pid) continue;
      call.exited = true;
      call.status = status;
    }
  }
}

void handleLine(Server& server, const std::string& line) {
  if (line.find_first_not_of(" \t\r") == std::string::npos) return;
  const Incoming message = parseMessage(line);
  const Reaction reaction = react(server.conversation, message);
  if (!reaction.reply.is_null()) send(server, reaction.reply);
  if (reaction.tool) startCall(server, message.id, *reaction.tool, reaction.arguments);
  if (!reaction.cancelId.is_null()) {
    for (Call& call : server.calls)
      if (call.id == reaction.cancelId) cancel(call);
  }
}

// Takes the whole lines of the input; an overlong one is answered with a parse error and
// passed over up to its end.
void takeLines(Server& server) {
  for (;;) {
    const size_t end = server.input.find('\n', server.scanned);
    if (end == std::string::npos) break;
    std::string line = server.input.substr(0, end);
    server.input.erase(0, end + 1);
    server.scanned = 0;
    if (server.skipping) {
      server.skipping = false;
      continue;
    }
    handleLine(server, line);
  }
  server.scanned = server.input.size();
  if (server.input.size() > kMaxLine) {
    if (!server.skipping) send(server, errorResponse(nullptr, kParseError, "Parse error: message longer than 64 MiB"));
    server.skipping = true;
    server.input.clear();
    server.scanned = 0;
  }
}

void readInput(Server& server) {
  char buffer[65536];
  const ssize_t got = read(0, buffer, sizeof buffer);
  if (got < 0 && (errno == EINTR || errno == EAGAIN)) return;
  if (got <= 0) {
    if (!server.skipping && !server.input.empty()) handleLine(server, server.input);  // a last line without its line end
    server.input.clear();
    return stopReading(server);
  }
  server.input.append(buffer, static_cast<size_t>(got));
  takeLines(server);
}

void installSignals() {
  if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("cannot make a pipe");
  setSignalAction(SIGPIPE, SIG_IGN);  // a closed output is a failed write
  setSignalAction(SIGCHLD, onChild, SA_RESTART | SA_NOCLDSTOP);
  setSignalAction(SIGTERM, onStop, SA_RESTART);
  setSignalAction(SIGINT, onStop, SA_RESTART);
}

// The poll timeout: until the next cancelled call is due to be killed.
int pollTimeout(const Server& server) {
  auto next = Clock::time_point::max();
  for (const Call& call : server.calls)
    if (!call.exited) next = std::min(next, call.killAt);
  if (next == Clock::time_point::max()) return -1;
  const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(next - Clock::now()).count();
  return wait <= 0 ? 0 : static_cast<int>(std::min<long long>(wait + 1, 60000));
}

void killOverdue(Server& server) {
  const auto now = Clock::now();
  for (Call& call : server.calls) {
    if (call.exited || now < call.killAt) continue;
    std::fprintf(stderr, "korctl mcp: a cancelled %s call did not end; killed\n", call.tool->name);
    kill(-call.pid, SIGKILL);
    kill(call.pid, SIGKILL);
    call.killAt = Clock::time_point::max();
  }
}

// One pass: waits for input, a child's output or its end, then handles what came.
void servePass(Server& server) {
  std::vector<pollfd> fds;
  fds.push_back({signalPipe[0], POLLIN, 0});
  const bool watchInput = server.reading;
  if (watchInput) fds.push_back({0, POLLIN, 0});
  for (const Call& call : server.calls)
    for (int fd : {call.resultFd, call.messageFd})
      if (fd >= 0) fds.push_back({fd, POLLIN, 0});
  if (poll(fds.data(), fds.size(), pollTimeout(server)) < 0 && errno != EINTR) throw std::runtime_error("poll failed");
  char drain[64];
  while (read(signalPipe[0], drain, sizeof drain) > 0) {
  }
  reapChildren(server);
  if (stopSignal && server.reading) stopReading(server);
  for (Call& call : server.calls) {
    drainInto(call.resultFd, call.result, std::string::npos);
    drainInto(call.messageFd, call.messages, kMaxMessages);
  }
  if (watchInput && server.reading && fds[1].revents) readInput(server);
  for (auto call = server.calls.begin(); call != server.calls.end();) {
    if (!call->exited) {
      ++call;
      continue;
    }
    finish(server, *call);
    call = server.calls.erase(call);
  }
  killOverdue(server);
}

}  // namespace

int serve(const std::string& argv0) {
  setKorctlPath(argv0);
  Server server;
  // Protocol messages get a descriptor of their own; anything else written to standard output
  // (by any library) goes to standard error instead.
  server.out = fcntl(1, F_DUPFD_CLOEXEC, 3);
  if (server.out < 0 || dup2(2, 1) < 0) {
    std::fprintf(stderr, "korctl mcp: cannot set up standard output: %s\n", std::strerror(errno));
    return 1;
  }
  installSignals();
  while (server.reading || !server.calls.empty()) servePass(server);
  closeFd(server.out);
  return stopSignal ? 128 + stopSignal : 0;
}

}  // namespace mcp
}  // namespace kor
