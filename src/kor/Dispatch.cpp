#include "kor/Dispatch.h"

#include <errno.h>
#include <unistd.h>

#include <cstring>
#include <ctime>

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
  queueInput(session.terminal, std::move(request.payload), hidden);
  request.payload = std::string();
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
  queueReply(client, kResize, "");
}

int64_t cursorOf(const Client& client) { return decodeInt64(client.reader.payload.data()); }

}  // namespace

SessionStatus statusOf(const Session& session) {
  SessionStatus status;
  status.name = session.options.name;
  status.host = session.options.host;
  status.pid = getpid();
  status.shellPid = session.terminal.shellPid;
  status.connected = session.terminal.shellAlive;
  status.created = session.created;
  status.lastActivity = session.lastActivity;
  status.headCursor = session.output.head;
  status.tailCursor = tailCursor(session.output);
  status.scrollback = session.output.limit;
  status.rows = session.terminal.size.rows;
  status.cols = session.terminal.size.cols;
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
      return queueReply(client, kReadOutput, outputReadReply(session.output, cursorOf(client)));
    case kSniff:
      return queueReply(client, kSniff, exchangeReadReply(session.exchange, cursorOf(client)));
    case kStatus:
      return queueReply(client, kStatus, formatStatus(statusOf(session)));
    case kKill:
      session.killRequested = true;
      return queueReply(client, kKill, "");
    default:  // the reader refuses unknown types from their header
      return queueError(client, "unknown request type " + std::to_string(type));
  }
}

}  // namespace kor
