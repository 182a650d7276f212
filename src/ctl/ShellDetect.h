#pragma once
// What `run --framing auto` knows about a session's shell, found once and kept in the
// session's .framing file: "paste osc status\n", each 0 or 1.
#include <cstddef>
#include <string>

namespace kor {

struct ShellTraits {
  bool pasteCapable = false;  // the shell switches bracketed paste mode ("\e[?2004h" / "l")
  bool oscMarks = false;      // the shell emits OSC 133 marks (a D mark has been seen)
  bool statusVar = false;     // $status holds the last exit status (else $? is used)
};

// --- pure parts ---

// Three integers read like formatted stream input; valid when all three are there and the
// first two are not negative. Nonzero means true.
bool parseFramingContent(const std::string& content, ShellTraits& traits);
std::string framingContent(const ShellTraits& traits);

// The set-up echo line "KORCTL_EC=" digits, then a line end, somewhere in text.
bool hasSetupEcho(const std::string& text);
// The traits judged from a history that holds the set-up echo.
ShellTraits judgeSetupEcho(const std::string& text);
// The traits judged from the reaction to the probe line of probeName.
ShellTraits judgeProbe(const std::string& text, const std::string& probeName);
// The shell has switched bracketed paste mode at least once.
bool showsPasteSwitch(const std::string& text);

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

// --- with I/O ---

// The traits for run --framing auto: the .framing file, else the session's history, else a
// probe; the file is written only when the shell was seen to answer.
ShellTraits detectShellTraits(const std::string& name);

// The traits of a valid .framing file; false when there is none (or it is not a regular file
// with one link, or is a symbolic link).
bool readFramingCache(const std::string& name, ShellTraits& traits);
// Writes the file with mode 0600, making the control directory private first; silently does
// nothing when the file cannot be opened or is not a regular file with one link.
void writeFramingCache(const std::string& name, const ShellTraits& traits);
// Judged from the set-up echo in the retained history; false when it is not found in 3 s.
bool scanSetupEcho(const std::string& name, ShellTraits& traits);
// Types a probe line and judges the reaction; answered tells whether the shell reacted
// (the probe echoed, or a D mark appeared).
ShellTraits probeShell(const std::string& name, bool& answered);
// Creates the directory (and parents) and sets its mode to exactly 0700; raises
// "could not create PATH: ..." when it cannot be created.
void ensurePrivateDir(const std::string& path);

}  // namespace kor
