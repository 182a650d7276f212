#pragma once
// attach and observe: the user's terminal connected to the live session, interactively or
// read-only.
#include <string>

#include "base/ControlClient.h"
#include "ctl/CommandTable.h"

namespace kor {

constexpr char kDetachKey = 0x1d;    // Ctrl-], detaches attach and observe
constexpr char kInterruptKey = 0x03; // Ctrl-C, detaches observe only

// Shows the session's output from cursor and (unless observe) types the keyboard into it,
// until a detach key, the end of the keyboard or of the session. The terminal is raw meanwhile
// and restored on every way out; with resize the session follows this terminal's size.
// Output retained from before the start is replayed without its terminal queries (this
// terminal would answer them into the session); with redraw nothing is replayed: the
// session's screen is drawn as it is, and output goes on from there.
int attachSession(const Endpoint& session, bool observe, long long cursor, bool resize, bool redraw);

// Position of the first detach key in bytes typed at the keyboard, or std::string::npos.
size_t findDetachKey(const std::string& typed, bool observe);

// One keyboard wait of the attach loop: true when descriptor 0 is readable within 100 ms. A
// failed select (other than EINTR) sleeps out the rest of the 100 ms, so a closed or broken
// standard input never turns the loop into a flat-out poll of the daemon.
bool waitForKeyboard();

// The option table and the command-line front door that attach and observe share.
void addAttachOptions(cxxopts::Options& options);
int attachFromCommandLine(const Invocation& call, bool observe);

}  // namespace kor
