#pragma once
#include <cstddef>
#include <string>

namespace kor {

// Writes a command's result to standard output and flushes it. On failure (a full disk, a
// closed pipe) prints "korctl: cannot write standard output: ..." and returns false, so the
// caller never reports a lost result as success.
bool writeStdout(const char* data, size_t length);
inline bool writeStdout(const std::string& text) { return writeStdout(text.data(), text.size()); }

}  // namespace kor
