#pragma once
#include <string>
#include <vector>

#include "base/ControlClient.h"

namespace kor {

// All of standard input, read in blocks up to end of input. Interrupted reads are retried and
// a non-blocking descriptor is waited on; any other read error raises std::runtime_error with
// the system's text, so a truncated input is never taken for the whole.
std::string readStdin();
// The bytes of the named keys in order; false, with unknown set to the name, at a name that is no key.
bool keySequence(const std::vector<std::string>& keys, std::string& bytes, std::string& unknown);
// Says on standard error that key is no key name, then the names it was probably meant to be,
// or else all of them.
void reportUnknownKey(const std::string& key);
// One Input (or HiddenInput) request, not quiet; 0 on success, 1 on failure.
int sendInput(const Endpoint& session, const std::string& bytes, bool hidden);

}  // namespace kor
