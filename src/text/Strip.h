#pragma once
#include <cstddef>
#include <string>

namespace kor {

// Raw terminal output to plain text. Exactly the result of three whole-text replacements, in
// this order, followed by the removal of every carriage return:
//   OSC       ESC ] [^BEL ESC]* (BEL | ESC \)
//   CSI       ESC [ [0-9;?]* [ -/]* [@-~]
//   two-byte  ESC [@-Z \-_]
// Each replacement is a hand-written scanner (linear time, no recursion), so output of any
// length strips without the stack limits of a backtracking regex engine.
std::string stripAnsi(const std::string& text);

namespace strip_detail {

// One stage of the pipeline; each consumes bytes and hands what it keeps to the next stage.
struct OscStage {
  enum State { kIdle, kEsc, kBody, kBodyEsc } state = kIdle;
  std::string pending;  // ESC ] and the body of an OSC sequence not yet terminated
};
struct CsiStage {
  enum State { kIdle, kEsc, kParams, kIntermediates } state = kIdle;
  std::string pending;  // ESC [ and the parameter and intermediate bytes seen so far
};
struct TwoByteStage {
  bool sawEsc = false;
};

}  // namespace strip_detail

// Strips output that arrives in pieces. After any sequence of feed() calls, text() equals
// stripAnsi() of everything fed so far, but each byte is scanned once: only a sequence that
// is still open at the end (undecided until more bytes come) is re-examined by text().
struct AnsiStripper {
  void feed(const char* data, size_t length);
  void feed(const std::string& data) { feed(data.data(), data.size()); }
  // stripAnsi of all bytes fed so far. The reference stays valid until the next call.
  const std::string& text();
  // Length of the prefix of text() that no later input can change.
  size_t settledSize() const { return settled; }
  // For a caller that writes the text out as it settles: forgets the settled text, so text()
  // and settledSize() from here on hold only what comes after it.
  void dropSettled() {
    out.erase(0, settled);
    settled = 0;
  }

  strip_detail::OscStage osc;
  strip_detail::CsiStage csi;
  strip_detail::TwoByteStage twoByte;
  std::string out;  // settled text, followed by the provisional end after text()
  size_t settled = 0;
};

}  // namespace kor
