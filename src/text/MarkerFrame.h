#pragma once
// Marker framing for `run`: the shell prints "KORCTL_<token>" before the command and
// "KORCTL_<token>:<status>" after it, and the command's output is cut out between the two.
#include <cstddef>
#include <string>

#include "text/CommandText.h"

namespace kor {

// 8 lowercase hexadecimal digits from the system random device, new for every frame.
std::string makeRunToken();

// The typed frame or, when pasted, the bracketed-paste frame; statusRef is "$?" or "$status".
// Both start with a space (shells that can keep such lines out of their history do) and make
// the shell print the end line also when CMD has a syntax error or a special built-in fails:
//  - typed: CMD reaches a variable through a here-document; its syntax is tried first in a
//    subshell (defining a function of it runs nothing), since some shells abandon the rest of
//    the line on an `eval` syntax error; sound, it runs through `command eval` (`builtin eval`
//    in zsh), which keeps a failing special built-in from abandoning it; unsound, the shell's
//    error comes from a subshell. Everything is one command line, read whole before it runs,
//    so a command that reads the terminal does not take the end of the frame for its input.
//  - pasted: start echo, `eval` of CMD as one word (pasteWord), end echo.
std::string buildMarkerFrame(const std::string& cmd, const std::string& token, bool pasted,
                             const std::string& statusRef, PasteWord pasteWord = PasteWord::kQuoted);

// Where the end line was found: the command's output bytes and its exit status.
struct MarkerResult {
  bool found = false;
  std::string output;
  int exitCode = 0;
};

// Scans a growing output (bytes are only ever appended) for the marker lines of one token.
// Each call looks only at the bytes that could still change the answer, so the total work is
// proportional to the output, while the answers equal those of a fresh scan of the whole text:
//   end line      = word ":" digits "\r"? "\n"   (the first one)
//   start line    = word "\r"? "\n"
//   line start    = "\r" or "\n", then a start line
struct MarkerScanner {
  explicit MarkerScanner(const std::string& token);

  // Looks at text (the whole accumulated output, a longer version of the last call's text).
  void scan(const std::string& text);

  std::string word;          // "KORCTL_" + token
  size_t resume = 0;         // the first occurrence of word not yet decided starts here or later
  size_t outStart = 0;       // just past the last start line seen before the end line
  bool lineStarted = false;  // a start line that begins a line has been seen
  size_t lineStartEnd = 0;   // just past the last such line (where a partial output starts)
  bool endFound = false;
  size_t endPos = 0;         // where the end line begins
  int exitCode = 0;
};

// The end line's exit status and the output between the last start line and the end line.
MarkerResult extractMarkerOutput(const std::string& accumulated, const std::string& token);
// A start line at the beginning of a line: the shell has begun to run the frame.
bool markerStarted(const std::string& accumulated, const std::string& token);

// The exit status text of an end line read like atoi (digits only, saturating as strtol does).
int markerStatusValue(const char* digits, size_t count);

}  // namespace kor
