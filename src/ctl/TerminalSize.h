#pragma once
// The session's terminal size: the Resize request and its TerminalInfo payload.
#include <string>

#include "base/ControlClient.h"

namespace kor {

// A serialized TerminalInfo with rows, columns and both pixel sizes set (0 included).
std::string terminalInfoPayload(int rows, int columns, int pixelWidth, int pixelHeight);

// One Resize request; true on success (failures reported unless quiet).
bool sendTerminalSize(const Endpoint& session, int rows, int columns, int pixelWidth, int pixelHeight, bool quiet);

}  // namespace kor
