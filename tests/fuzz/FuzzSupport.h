#pragma once
// Helpers for the libFuzzer targets: each target checks what a parser promises, not only that
// it does not crash. A broken promise aborts, which libFuzzer reports as a crash with its input.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#define FUZZ_CHECK(condition)                                                      \
  do {                                                                             \
    if (!(condition)) {                                                            \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                \
    }                                                                              \
  } while (0)

namespace fuzz {

inline std::string bytes(const uint8_t* data, size_t size) {
  return std::string(reinterpret_cast<const char*>(data), size);
}

// Words of a command line: the input split at zero bytes.
inline std::vector<std::string> words(const std::string& input) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    size_t end = input.find('\0', start);
    if (end == std::string::npos) {
      out.push_back(input.substr(start));
      return out;
    }
    out.push_back(input.substr(start, end - start));
    start = end + 1;
  }
}

// Lines split at line feeds; the last need not end with one.
inline std::vector<std::string> lines(const std::string& input) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start < input.size()) {
    size_t end = input.find('\n', start);
    if (end == std::string::npos) end = input.size();
    out.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace fuzz
