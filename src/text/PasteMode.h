#pragma once
// What a shell's output says about bracketed paste mode ("\e[?2004h" switches it on,
// "\e[?2004l" off): whether it is on now, and whether a pasted frame left the shell parked on
// a continuation prompt.
#include <cstddef>
#include <string>

namespace kor {

extern const char* const kPasteEnd;  // "\e[201~", the end of a pasted text

// Bracketed paste is not known to be off: no "\e[?2004l", or the last "\e[?2004h" comes
// after the last "\e[?2004l".
bool judgePasteOn(const std::string& text);

// Whether a growing output shows the shell parked on a continuation prompt after a paste:
// "\e[?2004l" and, after the first of those, "\e[?2004h". Looks at each byte about once.
struct ParkedSearch {
  bool scan(const std::string& text);
  size_t resume = 0;
  bool sawOff = false;
  bool parked = false;
};

}  // namespace kor
