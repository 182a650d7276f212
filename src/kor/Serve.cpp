#include "kor/Serve.h"

#include <errno.h>
#include <poll.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "kor/Dispatch.h"
#include "kor/Login.h"
#include "kor/SignalPipe.h"
#include "kor/Terminal.h"

namespace kor {

namespace {

// Why the session stops now, or "" while it goes on.
std::string stopReason(const Session& session) {
  if (terminateSignal()) return "daemon terminated by signal " + std::to_string(terminateSignal());
  if (session.killRequested) return "killed by request";
  if (session.ending && (!session.terminal.masterOpen || Clock::now() >= session.endBy))
    return exitReason(session.terminal.shellStatus, session.login.remote ? "ssh" : "shell");
  return "";
}

// Input still arriving counts against the queued-input limit from its header on.
RequestLimits requestLimits(const Session& session) {
  RequestLimits limits;
  limits.queuedInput = session.terminal.inputBytes + inputInFlight(session.clients);
  return limits;
}

// Requests that have already arrived on connections not served yet: a connection queued on the
// listening socket would be reset when it closes, so it is taken and answered like any other.
void serveArrivedRequests(Session& session) {
  acceptClients(session.files.listenFd, session.clients, session.maxClients);
  for (Client& client : session.clients) {
    if (client.answered || !wantsRead(client)) continue;
    if (readClient(client, requestLimits(session)) == ClientRead::Request) handleRequest(session, client);
  }
}

void endSession(Session& session, const std::string& stopped) {
  const std::string reason = endedReason(session, stopped);
  const std::string ended = "session '" + session.options.name + "' ended: " + reason;
  // The ended reason is on disk before anyone can find the socket gone. Requests that have
  // arrived are served, then the socket's name goes: a client that asks again at once (a
  // waiting read answered here) is refused and finds the ended reason, rather than being
  // accepted by nobody. Connections that came before the name went, and requests not served,
  // are answered that the session ended, so none ends in a bare reset.
  writeGone(session.files, reason);
  serveArrivedRequests(session);
  removeSocketName(session.files);
  refuseWaiting(session.files.listenFd, ended);
  stopListening(session.files);
  answerWaiters(session, true);
  for (Client& client : session.clients)
    if (!client.answered) queueError(client, ended);
  flushReplies(session.clients);
  finishLogin(session, reason);
  dropClients(session.clients);
  hangUpShell(session.terminal);
}

// The descriptors of one pass: listener, signal pipe, terminal, then one per client.
struct PollSet {
  std::vector<struct pollfd> fds;
  std::vector<Client*> clients;
  int timeoutMs = 0;
};
constexpr size_t kFirstClient = 3;
// Out of descriptors, a waiting connection keeps the listener readable: rest instead of spinning.
constexpr auto kAcceptRest = std::chrono::milliseconds(100);

PollSet pollSetFor(Session& session, Clock::time_point due) {
  PollSet set;
  const Terminal& terminal = session.terminal;
  auto now = Clock::now();
  const bool listening = now >= session.acceptAgainAt;
  set.fds.push_back({listening ? session.files.listenFd : -1, POLLIN, 0});
  set.fds.push_back({signalPipeReadEnd(), POLLIN, 0});
  short terminalEvents = 0;
  if (terminal.masterOpen) {
    terminalEvents = POLLIN;
    if (!terminal.input.empty()) terminalEvents |= POLLOUT;
  }
  set.fds.push_back({terminal.masterOpen ? terminal.master : -1, terminalEvents, 0});
  auto wake = now + std::chrono::seconds(1);
  if (session.ending && session.endBy < wake) wake = session.endBy;
  if (due < wake) wake = due;
  if (!listening && session.acceptAgainAt < wake) wake = session.acceptAgainAt;
  for (Client& client : session.clients) {
    short events = 0;
    if (replyPending(client)) events |= POLLOUT;
    if (wantsRead(client)) events |= POLLIN;
    set.fds.push_back({client.fd, events, 0});
    set.clients.push_back(&client);
    if (clientDeadline(client) < wake) wake = clientDeadline(client);
  }
  set.timeoutMs = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count()) + 1;
  if (set.timeoutMs < 0) set.timeoutMs = 0;
  return set;
}

// One client's events; false when it is done with.
bool serveClient(Session& session, Client& client, short revents) {
  bool keep = true;
  if (revents & (POLLIN | POLLHUP | POLLERR)) {
    if (wantsRead(client)) {
      ClientRead read = readClient(client, requestLimits(session));
      if (read == ClientRead::Request) handleRequest(session, client);
      keep = read != ClientRead::Drop;
    } else if (!(revents & POLLIN)) {
      keep = replyPending(client);
    }
  }
  if (keep && replyPending(client)) keep = writeClient(client);
  else if (keep && client.answered && !replyPending(client) && client.reader.discard == 0) keep = false;
  if (keep && Clock::now() > clientDeadline(client)) keep = false;
  return keep;
}

void servePass(Session& session) {
  PollSet set = pollSetFor(session, advanceLogin(session));
  int ready = poll(set.fds.data(), set.fds.size(), set.timeoutMs);
  if (ready < 0 && errno != EINTR) throw std::runtime_error(std::string("poll: ") + std::strerror(errno));

  if (set.fds[1].revents) {
    drainSignalPipe();
    reapShell(session);
  }
  const short terminalEvents = set.fds[2].revents;
  if (terminalEvents & (POLLIN | POLLHUP | POLLERR)) readTerminal(session);
  if (session.terminal.masterOpen && (terminalEvents & POLLOUT)) writeTerminal(session);
  answerWaiters(session, false);

  std::vector<Client*> finished;
  for (size_t i = 0; i < set.clients.size(); ++i)
    if (!serveClient(session, *set.clients[i], set.fds[kFirstClient + i].revents)) finished.push_back(set.clients[i]);
  for (Client* client : finished) {
    dropClient(*client);
    session.clients.remove_if([client](const Client& c) { return &c == client; });
  }
  // Input queued by this pass goes out at once when the terminal takes it.
  if (session.terminal.masterOpen && !session.terminal.input.empty()) writeTerminal(session);
  answerWaiters(session, false);  // what that input added to the exchange record
  if (set.fds[0].revents & POLLIN && !acceptClients(session.files.listenFd, session.clients, session.maxClients))
    session.acceptAgainAt = Clock::now() + kAcceptRest;
}

}  // namespace

void serve(Session& session) {
  session.maxClients = clientLimit();
  std::string reason;
  while ((reason = stopReason(session)).empty()) servePass(session);
  endSession(session, reason);
}

}  // namespace kor
