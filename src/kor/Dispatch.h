#pragma once
// Serving a complete request. A new request type is its payload rule in Requests.cpp (so the
// request reader can refuse a bad header early) and one case in handleRequest.
#include "kor/Session.h"

namespace kor {

// Serves the client's complete request against the session and queues the reply.
void handleRequest(Session& session, Client& client);

// Answers the parked waiting reads that have something to say, or whose wait is over; with
// `all`, every one of them (the session ends).
void answerWaiters(Session& session, bool all);

// The status record's fields as they stand.
SessionStatus statusOf(const Session& session);

}  // namespace kor
