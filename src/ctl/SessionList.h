#pragma once
// The session table of `korctl sessions`.
#include <cstdint>
#include <string>
#include <vector>

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

// 59s, 1m0s, 1h0m, 1d0h: two units at most, negative counts as 0.
std::string formatDuration(int64_t seconds);

// A control socket's row from its status map (an empty map is a dead socket). Names and hosts
// come from outside: anything odd in them is escaped, so no row is split or forged.
SessionRow socketRow(const std::string& name, const StatusMap& status, int64_t now);
// A saved session without a control socket.
SessionRow savedRow(const SessionInfo& info, int64_t now);
// The table: header and rows sorted by name; "" when there are no rows.
std::string formatSessionTable(std::vector<SessionRow> rows);

// A row for every control socket (asking each for its status) and for every saved session
// that has no socket.
std::vector<SessionRow> sessionRows();

}  // namespace kor
