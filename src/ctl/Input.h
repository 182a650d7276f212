#pragma once
#include <string>

#include "base/ControlClient.h"

namespace kor {

// All of standard input, read in blocks up to end of input. Interrupted reads are retried and
// a non-blocking descriptor is waited on; any other read error raises std::runtime_error with
// the system's text, so a truncated input is never taken for the whole.
std::string readStdin();
// One Input (or HiddenInput) request, not quiet; 0 on success, 1 on failure.
int sendInput(const Endpoint& session, const std::string& bytes, bool hidden);

}  // namespace kor
