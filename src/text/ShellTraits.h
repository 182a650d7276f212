#pragma once
// What `run --framing auto` knows about a session's shell, and how it is judged from the shell's
// output. The traits are kept in the session's .framing file: "paste osc status\n", each 0 or 1.
#include <cstddef>
#include <string>

namespace kor {

struct ShellTraits {
  bool pasteCapable = false;  // the shell switches bracketed paste mode ("\e[?2004h" / "l")
  bool oscMarks = false;      // the shell emits OSC 133 marks (a D mark has been seen)
  bool statusVar = false;     // $status holds the last exit status (else $? is used)
};

// Three integers read like formatted stream input; valid when all three are there and the
// first two are not negative. Nonzero means true.
bool parseFramingContent(const std::string& content, ShellTraits& traits);
std::string framingContent(const ShellTraits& traits);

// What the set-up line's status line starts with: KORCTL_EC=N.
extern const std::string kSetupEcho;
// The set-up echo line "KORCTL_EC=" digits, then a line end, somewhere in text.
bool hasSetupEcho(const std::string& text);
// The traits judged from a history that holds the set-up echo.
ShellTraits judgeSetupEcho(const std::string& text);
// The traits judged from the reaction to the probe line of probeName.
ShellTraits judgeProbe(const std::string& text, const std::string& probeName);
// The shell has switched bracketed paste mode at least once.
bool showsPasteSwitch(const std::string& text);
// The text holds an OSC 133 mark of any letter.
bool showsOscMarks(const std::string& text);
// What the recent output says about the shell before a frame is typed: it still runs a
// command, so the marks that come next would be that command's: the typed set-up line shows
// without its KORCTL_EC result line after it, or the last OSC 133 mark is a C.
bool shellLooksBusy(const std::string& recent);

// Counts the occurrences of a word in a growing text (bytes only appended), each byte looked
// at about once; the word must not overlap itself.
struct WordCounter {
  explicit WordCounter(std::string w) : word(std::move(w)) {}
  size_t count(const std::string& text);
  std::string word;
  size_t resume = 0;
  size_t seen = 0;
};

// Finds the set-up echo in a growing text, looking only at bytes not yet decided.
struct SetupEchoSearch {
  bool search(const std::string& text);
  size_t resume = 0;
  bool found = false;
};

}  // namespace kor
