#pragma once
#include <string>
#include <vector>

namespace kor {

// The bytes of one key name ("up", "f5", "^C", "x", and the spellings of tmux: "Enter",
// "BSpace", "C-c", "M-x"); empty for an unknown name.
std::string keyBytes(const std::string& keyName);
// Every fixed key name (not single characters, ^X, C-x or M-x), the own ones first.
std::vector<std::string> keyNames();
// The list of key names that `key --help` shows: a "Key names:" line, the names in indented
// lines up to an empty line (completions read them from there), then the tmux spellings and
// the rules for the rest.
std::string keyNamesHelp();

}  // namespace kor
