#pragma once
// The serve loop: one poll over the listening socket, the signal pipe, the terminal and the
// clients, until the session ends one way or another; then the one way out.
#include "kor/Session.h"

namespace kor {

// Serves until a kill request, SIGTERM, or the shell's end (after draining its last output),
// then ends the session: ended reason written, socket removed, last replies out, clients
// dropped, the shell hung up if it is still there.
void serve(Session& session);

}  // namespace kor
