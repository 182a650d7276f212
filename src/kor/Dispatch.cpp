#include "kor/Dispatch.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <ctime>

#include "kor/Foreground.h"
#include "kor/Login.h"
#include "kor/Pty.h"
#include "kor/Terminal.h"

namespace kor {

namespace {

void serveInput(Session& session, Client& client) {
  RequestReader& request = client.reader;
  const bool hidden = request.type == kHiddenInput;
  if (!session.terminal.shellAlive) {
    if (hidden) wipe(request.payload);
    return queueError(client, "the session's shell has ended");
  }
  // Output the terminal has already produced is read first, so it counts as before the input:
  // `expect --after-input` then never takes an earlier prompt for the answer to this input.
  readTerminal(session);
  session.terminal.inputCursor = session.output.head;
  queueInput(session.terminal, std::move(request.payload), hidden);
  request.payload = std::string();
  noteLoginInput(session);
  session.lastActivity = static_cast<long long>(std::time(nullptr));
  queueReply(client, request.type, "");
}

void serveResize(Session& session, Client& client) {
  Terminal& terminal = session.terminal;
  TermSize next = terminal.size;
  std::string error = applyResize(client.reader.payload, next);
  if (!error.empty()) return queueError(client, error);
  if (terminal.masterOpen &&
      !setPtySize(terminal.master, next.rows, next.cols, next.pixelWidth, next.pixelHeight))
    return queueError(client, std::string("cannot resize the terminal: ") + std::strerror(errno));
  terminal.size = next;
  resizeScreen(session.screen, next.rows, next.cols);
  queueReply(client, kResize, "");
}

void serveScreen(Session& session, Client& client) {
  const bool attributes = (client.reader.payload[0] & kScreenAttributes) != 0;
  ScreenImage image = captureScreen(session.screen, attributes);
  image.head = session.output.head;
  queueReply(client, kScreen, encodeScreenReply(image));
}

int64_t cursorOf(const Client& client) { return decodeInt64(client.reader.payload.data()); }

bool readReady(const Session& session, const WaitRead& read) {
  return read.readType == kSniff ? exchangeReady(session.exchange, read.cursor)
                                 : outputReady(session.output, read.cursor);
}

// Replies waiting for their clients hold at most so much: a read reply beyond is refused.
void limitHeldReplies(Session& session, Client& client) {
  const size_t limit = std::max(kMaxHeldReplyBytes, 2 * session.output.limit);
  const size_t held = heldReplyBytes(session.clients);
  if (held <= limit) return;
  const size_t others = held - unsentBytes(client);
  queueError(client, "the session holds " + std::to_string(others) +
                         " bytes of replies its clients have not taken yet; try again");
}

void answerRead(Session& session, Client& client, uint8_t readType, int64_t cursor) {
  // Every read reply says that waiting reads are served (see kWaitRead).
  queueReply(client, kWaitRead,
             readType == kSniff ? exchangeReadReply(session.exchange, cursor) : outputReadReply(session.output, cursor));
  limitHeldReplies(session, client);
}

void serveWaitRead(Session& session, Client& client) {
  const WaitRead read = decodeWaitRead(client.reader.payload.data());
  if (read.readType != kReadOutput && read.readType != kSniff)
    return queueError(client, "a waiting read stands for an output read (3) or an exchange read (6), not " +
                                  std::to_string(read.readType));
  if (read.waitMs == 0 || readReady(session, read))
    return answerRead(session, client, read.readType, read.cursor);
  park(client, read);
}

}  // namespace

void answerWaiters(Session& session, bool all) {
  const auto now = Clock::now();
  for (Client& client : session.clients) {
    if (!isParked(client)) continue;
    if (all || now >= client.waitingUntil || readReady(session, client.waiting)) {
      unpark(client);
      answerRead(session, client, client.waiting.readType, client.waiting.cursor);
    }
  }
}

SessionStatus statusOf(const Session& session) {
  SessionStatus status;
  status.name = session.options.name;
  status.host = session.options.host;
  status.pid = getpid();
  status.shellPid = session.terminal.shellPid;
  status.connected = session.terminal.shellAlive && !session.login.pending;
  status.created = session.created;
  status.lastActivity = session.lastActivity;
  status.headCursor = session.output.head;
  status.tailCursor = tailCursor(session.output);
  status.scrollback = session.output.limit;
  status.rows = session.terminal.size.rows;
  status.cols = session.terminal.size.cols;
  status.login = loginStateOf(session);
  status.loginPrompt = session.login.prompt;
  status.inputCursor = session.terminal.inputCursor;
  status.foreground = session.terminal.masterOpen ? foregroundProgram(session.terminal.master) : "";
  return status;
}

void handleRequest(Session& session, Client& client) {
  const uint8_t type = client.reader.type;
  switch (type) {
    case kInput:
    case kHiddenInput:
      return serveInput(session, client);
    case kResize:
      return serveResize(session, client);
    case kReadOutput:
    case kSniff:
      return answerRead(session, client, type, cursorOf(client));
    case kWaitRead:
      return serveWaitRead(session, client);
    case kStatus:
      return queueReply(client, kStatus, formatStatus(statusOf(session)));
    case kKill:
      session.killRequested = true;
      return queueReply(client, kKill, "");
    case kScreen:
      return serveScreen(session, client);
    default:  // the reader refuses unknown types from their header
      return queueError(client, "unknown request type " + std::to_string(type));
  }
}

}  // namespace kor
