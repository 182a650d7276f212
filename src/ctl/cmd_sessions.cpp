// korctl sessions: lists the control sessions, and saved sessions with no control socket.
#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "ctl/SessionList.h"

namespace kor {

namespace {

// Always 0: the listing is all there is to say.
int execute(const Invocation&) {
  writeStdout(formatSessionTable(sessionRows()));
  return 0;
}

}  // namespace

extern const CommandEntry kSessionsCommand = {
    "sessions",
    "List control sessions, and saved sessions with no control socket.",
    "list control sessions (+ saved ones with no socket)",
    "",
    Arguments::kNoSession,
    nullptr,
    execute,
};

}  // namespace kor
