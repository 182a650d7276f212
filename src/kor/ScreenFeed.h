#pragma once
// What of a terminal's output the screen model has to interpret.
//
// A flood of plain text (printable ASCII, carriage returns, line feeds and colour changes) that
// is followed by enough further lines of plain text scrolls off the screen without leaving a
// trace: the rows it wrote are gone and the cursor is where it would be without it. Such
// stretches are cut out before the model sees them (their colour changes kept), so the model
// keeps pace with a terminal that prints faster than a full emulation could follow. Everything
// else passes through unchanged, in order.
//
// The cut is exact only while the screen scrolls as a whole and lines wrap, so the feed follows
// the escape sequences that change that (scrolling margins, side margins, autowrap) and cuts
// nothing while any of them may be in force.
//
// Device control strings reach the model empty: the model draws nothing for them, and its
// answer to a status-string request formats an argument it never passes. A repeat (REP) reaches
// it only after a character it can repeat. UTF-8 reaches it in whole sequences, a broken one as
// U+FFFD. (ScreenSequences.cpp follows the sequences; this file holds and cuts plain text.)
#include <cstddef>
#include <cstdint>
#include <string>

namespace kor {

struct ScreenFeed {
  int rows = 24;
  int cols = 80;

  enum class Parse : uint8_t { Ground, Escape, EscapeIntermediate, Csi, String, StringEscape };
  Parse parse = Parse::Ground;
  bool deviceString = false;   // the string being read is a device control string (ESC P)
  std::string sequence;        // what the model has not seen yet of the sequence being read
  bool sequenceBegun = false;  // the model has seen its start (given at a flush)
  std::string csi;             // parameter and intermediate bytes of the control sequence
  bool csiBroken = false;      // that sequence had bytes no sequence has, or too many
  int csiSeparators = 0;       // parameter separators (';', ':') seen in it

  // Settings that stop the cut, as far as the escape sequences seen so far can tell.
  bool scrollMargins = false;
  bool sideMargins = false;
  bool noAutowrap = false;

  // What the model last saw of plain text: the cursor's column follows from it.
  enum class Anchor : uint8_t { None, LineStart, AfterPrintable };
  Anchor anchor = Anchor::None;

  std::string held;          // plain text (and colour changes) not yet given to the model
  bool heldColours = false;  // held has colour changes
  std::string lastText;      // the last character printed, for repeats
  std::string utf8;          // a UTF-8 sequence begun, not yet given to the model
  int utf8Need = 0;          // its continuation bytes still to come
};

ScreenFeed makeScreenFeed(int rows, int cols);

// Takes the next output bytes; appends to modelInput what the model must interpret now. Some
// plain text is held back until more output shows whether it will scroll away.
void feedScreenOutput(ScreenFeed& feed, const char* data, size_t length, std::string& modelInput);

// Appends everything held back (less what can already be cut), so the model is up to date.
void flushScreenFeed(ScreenFeed& feed, std::string& modelInput);

// A new terminal size; flush first, so held text is measured by the size it was printed at.
void resizeScreenFeed(ScreenFeed& feed, int rows, int cols);

}  // namespace kor
