#pragma once
#include <string>

namespace kor {

// The bytes of one key name ("up", "f5", "^C", "x"); empty for an unknown name.
std::string keyBytes(const std::string& keyName);
// The list of key names that `key --help` shows: a "Key names:" line, the names in indented
// lines up to an empty line (completions read them from there), then the rules for the rest.
std::string keyNamesHelp();

}  // namespace kor
