// korctl attach NAME: the session on this terminal, interactively (Ctrl-] detaches).
#include "ctl/Attach.h"

namespace kor {

namespace {

int execute(const Invocation& call) { return attachFromCommandLine(call, false); }

}  // namespace

extern const CommandEntry kAttachCommand = {
    "attach",
    "Attach interactively (Ctrl-] to detach).",
    "attach interactively (Ctrl-] to detach)",
    "NAME [OPTION...]",
    Arguments::kSession,
    addAttachOptions,
    execute,
};

}  // namespace kor
