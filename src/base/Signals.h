#pragma once
#include <signal.h>

namespace kor {

// Sets the action for sig: handler (a function, SIG_IGN or SIG_DFL) with an empty mask and
// the given flags. The action it replaces goes to *previous when given.
void setSignalAction(int sig, void (*handler)(int), int flags = 0, struct sigaction* previous = nullptr);

}  // namespace kor
