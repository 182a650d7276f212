#pragma once
// OSC 133 framing for `run`: the shell's own shell-integration marks (ESC "]133;C" before a
// command's output, ESC "]133;D;status" after it) delimit the output.
#include <cstddef>
#include <string>

#include "text/CommandText.h"

namespace kor {

// " eval WORD" pasted ("\e[200~" ... "\e[201~\r"), WORD evaluating to CMD (see PasteWord);
// otherwise " eval" of CMD from a here-document, typed. Either is one command, so the shell
// marks it with one C and one D, also when CMD has a syntax error; the leading space keeps it
// out of the history of shells that allow it.
std::string buildOscFrame(const std::string& cmd, const std::string& token, bool pasted,
                          PasteWord pasteWord = PasteWord::kQuoted);

struct OscMark {
  size_t start = 0;   // position of the mark's ESC
  size_t end = 0;     // just past its terminator
  int exitCode = -1;  // for a D mark: the number after "D;", -1 when missing or too large
};

// The first terminated mark with that letter whose ESC lies at or after from.
bool findOscMark(const std::string& text, size_t from, char letter, OscMark& mark);
// The same; resume is set to where a search of a longer version of text must start again
// (an unfinished mark, or the end of the text).
bool findOscMark(const std::string& text, size_t from, char letter, OscMark& mark, size_t& resume);

struct OscResult {
  bool found = false;
  std::string output;
  int exitCode = -1;
};

// The output after the last C mark before the first D mark that follows the first C mark,
// cleaned of the noise around it, and that D mark's exit status.
OscResult extractOscOutput(const std::string& text);
// A C or a D mark is present.
bool oscStarted(const std::string& text);

// The capture without its leading and trailing noise (paste switches, marks, resets, titles,
// a partial-line marker). Leading noise also takes a run of SGR sequences and character-set
// designations up to its last attribute reset: nothing visible stays in effect from it.
std::string cleanCapture(const std::string& text);
// The same for the capture text[from, to): what is left of it is text[start, end).
void captureBounds(const std::string& text, size_t from, size_t to, size_t& start, size_t& end);
// Past the noise item that begins at pos and ends at or before end, or pos when none does.
size_t skipNoise(const std::string& text, size_t pos, size_t end, bool leading);
// The end of text[start, end) once a partial-line marker at its end has been cut off.
size_t trimPartialLineMarker(const std::string& text, size_t start, size_t end);

// Walks the marks of a growing output (bytes are only ever appended) once, in order: each
// call looks only at the ESC bytes not yet decided, and its answers equal those of
// extractOscOutput and oscStarted on the whole text.
struct OscScanner {
  void scan(const std::string& text);
  // The pair's cleaned output and exit status once endFound.
  OscResult result(const std::string& text) const;

  size_t resume = 0;       // the next ESC to look at is here or later
  bool started = false;    // a C or D mark has been seen
  bool haveC = false;
  size_t outFrom = 0;      // just past the last C mark seen so far
  bool endFound = false;
  OscMark end;             // the first D mark after the first C mark
};

}  // namespace kor
