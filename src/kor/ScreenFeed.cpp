#include "kor/ScreenFeed.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/ControlSequence.h"
#include "kor/ScreenSequences.h"

namespace kor {

namespace {

constexpr size_t kMinHold = 64 * 1024;

bool isPlain(unsigned char c) { return (c >= 0x20 && c <= 0x7e) || c == '\r' || c == '\n'; }

// The length of the plain text at p, eight bytes at a time while they are all printable.
size_t plainRun(const unsigned char* p, size_t n) {
  constexpr uint64_t kOnes = 0x0101010101010101ULL, kHigh = 0x8080808080808080ULL;
  size_t i = 0;
  while (i < n) {
    if (n - i >= 8) {
      uint64_t w;
      std::memcpy(&w, p + i, 8);
      const uint64_t below = (w - kOnes * 0x20) & ~w & kHigh;      // a byte under 0x20
      const uint64_t above = ((w + kOnes * (127 - 0x7e)) | w) & kHigh;  // a byte over 0x7e
      if ((below | above) == 0) {
        i += 8;
        continue;
      }
    }
    if (!isPlain(p[i])) break;
    ++i;
  }
  return i;
}

// Lines (or rows of wrapped text) that must follow a cut: enough that every row on the screen
// before them has scrolled off, wherever the cursor stood, with some to spare.
size_t linesAfterCut(const ScreenFeed& feed) { return static_cast<size_t>(2 * feed.rows + 2); }

// Held text beyond this is cut down; what cannot be cut goes to the model.
size_t holdLimit(const ScreenFeed& feed) {
  return std::max(kMinHold, 4 * linesAfterCut(feed) * static_cast<size_t>(feed.cols + 1));
}

bool cutPossible(const ScreenFeed& feed) { return !feed.scrollMargins && !feed.sideMargins && feed.cols >= 2; }

// ---- holding and cutting plain text ----

// The cursor as the model is left by held text ending with these bytes (colour changes leave
// the cursor where it is).
ScreenFeed::Anchor anchorAfter(const std::string& text, ScreenFeed::Anchor before) {
  using A = ScreenFeed::Anchor;
  bool lineFeed = false;
  size_t end = text.size();
  while (end > 0) {
    if (text[end - 1] == '\n') {
      lineFeed = true;
      --end;
      continue;
    }
    size_t esc = text[end - 1] == 'm' ? text.rfind(kEsc, end - 1) : std::string::npos;
    if (esc != std::string::npos && sgrLength(text.data() + esc, end - esc) == end - esc) {
      end = esc;
      continue;
    }
    break;
  }
  if (end == 0) return before == A::LineStart || !lineFeed ? before : A::None;
  if (text[end - 1] == '\r') return A::LineStart;
  return lineFeed ? A::None : A::AfterPrintable;  // a line feed after text keeps an unknown column
}

void release(ScreenFeed& feed, size_t count, std::string& modelInput) {
  if (count == 0) return;
  std::string part = feed.held.substr(0, count);
  modelInput += part;
  feed.anchor = anchorAfter(part, feed.anchor);
  feed.held.erase(0, count);
  if (feed.held.empty()) feed.heldColours = false;
}

// Whether the colour change at p starts from the default look (its first parameter empty or 0).
bool resetsColours(const char* p) {
  size_t i = 2;
  while (p[i] == '0') ++i;
  return p[i] == ';' || p[i] == 'm';
}

// What the model needs of cut text with colour changes: the changes from the last reset on, so
// it ends with the same colours (rows that scroll in take the background in force).
void keepColours(const std::string& cutText, std::string& modelInput) {
  size_t from = std::string::npos;
  for (size_t at = cutText.find(kEsc); at != std::string::npos; at = cutText.find(kEsc, at + 1))
    if (from == std::string::npos || resetsColours(cutText.data() + at)) from = at;
  for (size_t at = from; at != std::string::npos; at = cutText.find(kEsc, at + 1))
    modelInput.append(cutText, at, sgrLength(cutText.data() + at, cutText.size() - at));
}

// Text of whole lines: after a carriage return the cursor is at the start of a line, so the lines
// up to a later carriage return can go when enough line feeds follow that one.
void cutLines(ScreenFeed& feed, std::string& modelInput) {
  std::string& held = feed.held;
  if (feed.anchor != ScreenFeed::Anchor::LineStart) release(feed, held.find('\r') + 1, modelInput);
  const size_t need = linesAfterCut(feed);
  size_t feeds = 0;
  size_t at = held.size();
  while (at > 0 && feeds < need) {
    if (held[--at] == '\n') ++feeds;
  }
  if (feeds < need) return;
  size_t cut = held.rfind('\r', at);
  if (cut == std::string::npos) return;
  if (feed.heldColours) keepColours(held.substr(0, cut + 1), modelInput);
  held.erase(0, cut + 1);
}

// One unbroken run of printable text: it wraps every cols characters once the model has shown
// one of them, so whole screen widths of it can go when enough rows of it follow.
void cutRun(ScreenFeed& feed, std::string& modelInput) {
  if (feed.noAutowrap) return;
  if (feed.anchor != ScreenFeed::Anchor::AfterPrintable) release(feed, 1, modelInput);
  const size_t width = static_cast<size_t>(feed.cols);
  const size_t keep = linesAfterCut(feed) * width;
  if (feed.held.size() <= keep) return;
  feed.held.erase(0, (feed.held.size() - keep) / width * width);
}

void cut(ScreenFeed& feed, std::string& modelInput) {
  if (!cutPossible(feed) || feed.held.empty()) return;
  if (feed.held.find('\r') != std::string::npos) cutLines(feed, modelInput);
  else if (!feed.heldColours && feed.held.find('\n') == std::string::npos) cutRun(feed, modelInput);
}

void releaseHeld(ScreenFeed& feed, std::string& modelInput) {
  cut(feed, modelInput);
  release(feed, feed.held.size(), modelInput);
}

// Holds plain text and colour changes.
void hold(ScreenFeed& feed, const char* data, size_t length, bool colours, std::string& modelInput) {
  feed.held.append(data, length);
  if (colours) feed.heldColours = true;
  const size_t limit = holdLimit(feed);
  if (feed.held.size() < limit) return;
  cut(feed, modelInput);
  if (feed.held.size() > limit / 2) release(feed, feed.held.size(), modelInput);
}

}  // namespace

ScreenFeed makeScreenFeed(int rows, int cols) {
  ScreenFeed feed;
  feed.rows = rows;
  feed.cols = cols;
  return feed;
}

void flushScreenFeed(ScreenFeed& feed, std::string& modelInput) {
  releaseHeld(feed, modelInput);
  // A sequence still open goes too: controls inside it act at once.
  if (!feed.sequence.empty()) giveSequenceSoFar(feed, modelInput);
}

void feedScreenOutput(ScreenFeed& feed, const char* data, size_t length, std::string& modelInput) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(data);
  size_t i = 0;
  auto holdable = [&](size_t at) {
    return feed.parse == ScreenFeed::Parse::Ground &&
           (isPlain(bytes[at]) || sgrLength(data + at, length - at) > 0);
  };
  while (i < length) {
    if (holdable(i)) {
      const size_t start = i;
      size_t lastPrintable = std::string::npos;
      bool colours = false;
      while (i < length) {
        if (isPlain(bytes[i])) {
          const size_t run = i;
          i += plainRun(bytes + i, length - i);
          for (size_t k = i; k > run; --k) {
            if (isAsciiPrintable(bytes[k - 1])) {
              lastPrintable = k - 1;
              break;
            }
          }
          continue;
        }
        const size_t n = sgrLength(data + i, length - i);
        if (n == 0) break;
        colours = true;
        i += n;
      }
      breakUtf8(feed, modelInput);
      if (lastPrintable != std::string::npos) noteText(feed, bytes[lastPrintable]);
      hold(feed, data + start, i - start, colours, modelInput);
      continue;
    }
    releaseHeld(feed, modelInput);
    do {
      stepSequence(feed, bytes[i++], modelInput);
    } while (i < length && !holdable(i));
    feed.anchor = ScreenFeed::Anchor::None;
  }
}

void resizeScreenFeed(ScreenFeed& feed, int rows, int cols) {
  feed.rows = rows;
  feed.cols = cols;
  feed.anchor = ScreenFeed::Anchor::None;  // a resize may move the cursor
}

}  // namespace kor
