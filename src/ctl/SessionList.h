#pragma once
// The session table of `korctl sessions` and the helpers `gc` shares with it.
#include <cstdint>
#include <string>
#include <vector>

#include "base/ControlClient.h"
#include "base/StatusRecord.h"
#include "terminal/SessionStore.h"

namespace kor {

struct SessionRow {
  std::string name;
  std::string host;
  std::string status;
  std::string up;
  std::string idle;
};

// Names of the control sockets (files NAME.sock, NAME not empty) in the control directory,
// sorted byte-wise; empty when the directory cannot be read.
std::vector<std::string> scanControlDir();
// A scanned name addressed through its own control socket, never through a file of the same
// name in the current directory; messages still show the bare name.
Endpoint controlEndpoint(const std::string& name);

// 59s, 1m0s, 1h0m, 1d0h: two units at most, negative counts as 0.
std::string formatDuration(int64_t seconds);

// A control socket's row from its status map (an empty map is a dead socket).
SessionRow socketRow(const std::string& name, const StatusMap& status, int64_t now);
// A saved session without a control socket.
SessionRow savedRow(const SessionInfo& info, int64_t now);
// The table: header and rows sorted by name; "" when there are no rows.
std::string formatSessionTable(std::vector<SessionRow> rows);

}  // namespace kor
