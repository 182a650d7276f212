#pragma once
// The daemon's signals. SIGCHLD, SIGTERM and SIGUSR1 (ssh's notice that the login is done)
// only write a byte to a pipe that the serve loop polls, so they are handled between passes of the loop, never inside it; the signals that
// would otherwise stop a background daemon (SIGPIPE, SIGHUP, SIGINT, SIGQUIT) are ignored.
namespace kor {

// Makes the pipe and sets the handlers; raises when the pipe cannot be made.
void installSignalPipe();
// The end the serve loop polls.
int signalPipeReadEnd();
// Reads away what the handlers wrote.
void drainSignalPipe();
// The signal that asked the daemon to stop (SIGTERM), or 0.
int terminateSignal();
// Whether SIGUSR1 came since the last call.
bool takeLoginNotice();

}  // namespace kor
