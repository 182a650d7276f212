#pragma once
// A remote session logs in before its shell runs (kor reports it as the status field `login`:
// "connecting", "prompt" with `loginPrompt`, or "done"). Nothing of korctl's own may be typed
// into a login prompt: what ssh asks is for the user to answer with writeln.
#include <string>

#include "base/StatusRecord.h"

namespace kor {

// The status `open` returns for a session that lives but has not logged in yet.
constexpr int kOpenLoginPending = 3;

// The line that tells the user what the session's login waits for, "" when it waits for
// nothing (logged in, or a daemon that does not report logins).
std::string loginWaitText(const std::string& name, const StatusMap& status);

// Before run types anything: waits while the session is still connecting, up to timeoutMs.
// 0 once it is logged in; otherwise the message is printed and the result is run's status:
// 2 at a login prompt or when the status cannot be read, 124 when the time ran out.
int awaitLogin(const Endpoint& session, long long timeoutMs, double timeoutSeconds);

}  // namespace kor
