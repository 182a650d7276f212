#pragma once
// Starting a session, in the foreground: the control directory, the socket path, one start at
// a time per socket, the live-session check, the listening socket; then the detach into the
// background and the ready report that tells the foreground how the start went.
#include "kor/KorOptions.h"

namespace kor {

// Returns the foreground's exit status: 0 once the new session serves its socket (or a
// session of the same name and host already does). Raises with the message for "kor: ...".
int startSession(const KorOptions& options);

}  // namespace kor
