#pragma once
// Serving a complete request. A new request type is its payload rule in Requests.cpp (so the
// request reader can refuse a bad header early) and one case in handleRequest.
#include "kor/Session.h"

namespace kor {

// Serves the client's complete request against the session and queues the reply.
void handleRequest(Session& session, Client& client);

// The status record's fields as they stand.
SessionStatus statusOf(const Session& session);

}  // namespace kor
