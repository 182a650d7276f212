#pragma once
// Work done for a caller who may call it off (a tool call of `korctl mcp`, which runs in a
// process of its own and is told by a signal) notices between its steps and ends cleanly: a run
// interrupts the command it typed. Without acceptCancellation nothing is ever cancelled.
namespace kor {

// From now on sig marks the work as cancelled. The handler is installed without SA_RESTART, so
// a pause or a wait in progress returns early and the work notices at once.
void acceptCancellation(int sig);
// Whether the work was called off and the caller has not yet taken that up.
bool cancellationPending();
// Takes the cancellation up: true once, when it is pending; waits are no longer cut short after.
bool takeCancellation();

}  // namespace kor
