#pragma once
// Pieces of attach, observe and resize.
#include <string>

namespace kor {

constexpr char kDetachKey = 0x1d;    // Ctrl-], detaches attach and observe
constexpr char kInterruptKey = 0x03; // Ctrl-C, detaches observe only

// A serialized TerminalInfo with rows, columns and both pixel sizes set (0 included).
std::string terminalInfoPayload(int rows, int columns, int pixelWidth, int pixelHeight);

// Position of the first detach key in bytes typed at the keyboard, or std::string::npos.
size_t findDetachKey(const std::string& typed, bool observe);

// One keyboard wait of the attach loop: true when descriptor 0 is readable within 100 ms. A
// failed select (other than EINTR) sleeps out the rest of the 100 ms, so a closed or broken
// standard input never turns the loop into a flat-out poll of the daemon.
bool waitForKeyboard();

}  // namespace kor
