// korctl observe NAME: the session on this terminal, read-only (Ctrl-C or Ctrl-] detaches).
#include "ctl/Attach.h"

namespace kor {

namespace {

int execute(const Invocation& call) { return attachFromCommandLine(call, true); }

}  // namespace

extern const CommandEntry kObserveCommand = {
    "observe",
    "Watch the live screen, read-only (Ctrl-C/Ctrl-] to detach).",
    "watch the live screen (read-only)",
    "NAME [OPTION...]",
    Arguments::kSession,
    addAttachOptions,
    execute,
};

}  // namespace kor
