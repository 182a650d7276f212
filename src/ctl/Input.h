#pragma once
#include <string>

namespace kor {

// The bytes of one key name ("up", "f5", "^C", "x"); empty for an unknown name.
std::string keyBytes(const std::string& keyName);
// The list of key names that `key --help` shows: a "Key names:" line, the names in indented
// lines up to an empty line (completions read them from there), then the rules for the rest.
std::string keyNamesHelp();
// All of standard input, read in blocks up to end of input. Interrupted reads are retried and
// a non-blocking descriptor is waited on; any other read error raises std::runtime_error with
// the system's text, so a truncated input is never taken for the whole.
std::string readStdin();
// One Input (or HiddenInput) request, not quiet; 0 on success, 1 on failure.
int sendInput(const std::string& name, const std::string& bytes, bool hidden);

}  // namespace kor
