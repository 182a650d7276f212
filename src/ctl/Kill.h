#pragma once
// `kill`: force-stops a session's daemon.
#include "base/ControlClient.h"

namespace kor {

// One kill request, then, when waitSeconds > 0, probes every 100 ms until the socket no longer
// answers or the time passes. 0 on success; 1 when the request failed or the session outlived
// the wait (reported on standard error).
int killSession(const Endpoint& session, double waitSeconds);

}  // namespace kor
