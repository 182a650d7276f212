#include "kor/ScreenFeed.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/ControlSequence.h"

namespace kor {

namespace {

constexpr size_t kMaxCsi = 64;
constexpr size_t kMaxHeldSequence = 4096;
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

// ---- following the escape sequences that matter ----

bool hasParam(const ControlSequence& parts, long wanted) {
  return std::find(parts.params.begin(), parts.params.end(), wanted) != parts.params.end();
}

// A broken sequence may still have done something: it may set what stops the cut, never clear it.
void endCsi(ScreenFeed& feed, char final) {
  ControlSequence parts = splitControlSequence(feed.csi);
  const bool sure = !feed.csiBroken && parts.intermediates.find_first_not_of(" !\"#$%&'()*+,-./") == std::string::npos;
  if (final == 'r' && parts.leader == 0 && parts.intermediates.empty()) {
    long top = sequenceParam(parts, 0), bottom = sequenceParam(parts, 1);
    bool whole = top <= 1 && (bottom <= 0 || bottom == feed.rows) && parts.params.size() <= 2;
    if (!whole) feed.scrollMargins = true;
    else if (sure) feed.scrollMargins = false;
  } else if ((final == 'h' || final == 'l' || final == 'r') && parts.leader == '?' && parts.intermediates.empty()) {
    if (hasParam(parts, 7)) {
      if (final == 'h' && sure) feed.noAutowrap = false;
      else if (final != 'h') feed.noAutowrap = true;
    }
    if (hasParam(parts, 69) && final != 'l') feed.sideMargins = true;
  } else if (final == 'p' && parts.intermediates == "!") {
    feed.noAutowrap = true;  // a soft reset may leave autowrap off
  }
  if (!sure && (final == 'h' || final == 'l' || final == 'r')) {
    feed.noAutowrap = true;
    feed.sideMargins = true;
    feed.scrollMargins = true;
  }
}

void hardReset(ScreenFeed& feed) {
  feed.scrollMargins = false;
  feed.sideMargins = false;
  feed.noAutowrap = false;
  feed.lastText.clear();
}

bool isAsciiPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7e; }

// The character the model printed last, for a repeat (REP) to repeat.
void noteText(ScreenFeed& feed, unsigned char c) {
  if (isAsciiPrintable(c)) feed.lastText.assign(1, static_cast<char>(c));
}

void emitSequence(ScreenFeed& feed, std::string& modelInput) {
  modelInput += feed.sequence;
  feed.sequence.clear();
  feed.sequenceBegun = false;
}

// The part of an open sequence read so far goes to the model (controls inside it act at once);
// the rest follows as it comes.
void giveSequenceSoFar(ScreenFeed& feed, std::string& modelInput) {
  modelInput += feed.sequence;
  feed.sequence.clear();
  feed.sequenceBegun = true;
}

// A sequence is held until it ends, but controls do not end it: past this much of them it goes
// to the model as it comes.
void boundSequence(ScreenFeed& feed, std::string& modelInput) {
  if (feed.sequence.size() > kMaxHeldSequence) giveSequenceSoFar(feed, modelInput);
}

// ---- UTF-8 ----

const char kReplacement[] = "\xef\xbf\xbd";  // U+FFFD, what a broken sequence shows

void replacement(ScreenFeed& feed, std::string& modelInput) {
  modelInput += kReplacement;
  feed.lastText = kReplacement;
}

// A sequence cut short by anything but a continuation byte.
void breakUtf8(ScreenFeed& feed, std::string& modelInput) {
  if (feed.utf8Need == 0) return;
  feed.utf8.clear();
  feed.utf8Need = 0;
  replacement(feed, modelInput);
}

// A byte from 0x80 on, as text: whole sequences reach the model in one piece, broken ones as
// U+FFFD (the emulator shows a broken one or not depending on how its input was split).
void takeUtf8(ScreenFeed& feed, unsigned char c, std::string& modelInput) {
  if (c < 0xc0) {
    if (feed.utf8Need == 0) return replacement(feed, modelInput);
    feed.utf8 += static_cast<char>(c);
    if (--feed.utf8Need > 0) return;
    modelInput += feed.utf8;
    feed.lastText = feed.utf8;
    feed.utf8.clear();
    return;
  }
  breakUtf8(feed, modelInput);
  if (c < 0xc2 || c > 0xf4) return replacement(feed, modelInput);
  feed.utf8.assign(1, static_cast<char>(c));
  feed.utf8Need = c >= 0xf0 ? 3 : c >= 0xe0 ? 2 : 1;
}

// ---- repeats and sequences ----

// The emulator repeats with the width of the last character, and never ends when that width is
// 0 (nothing printed yet, or a combining mark alone). It repeats ASCII; other characters are
// repeated here as text, up to a row's worth; with nothing printed the repeat is dropped.
void repeat(ScreenFeed& feed, bool sure, std::string& modelInput) {
  const std::string& last = feed.lastText;
  if (last.size() == 1 && isAsciiPrintable(static_cast<unsigned char>(last[0]))) return emitSequence(feed, modelInput);
  for (char c : feed.sequence)
    if (static_cast<unsigned char>(c) < 0x20 && c != kEsc) modelInput += c;
  if (feed.sequenceBegun) modelInput += kCan;  // the model has the start: cancel it
  if (last.empty()) return;
  long count = sure ? sequenceParam(splitControlSequence(feed.csi), 0) : 1;
  count = std::min<long>(std::max<long>(count, 1), feed.cols);
  for (long i = 0; i < count; ++i) modelInput += last;
}


void restartEscape(ScreenFeed& feed, std::string& modelInput) {
  emitSequence(feed, modelInput);
  feed.sequence.assign(1, kEsc);
  feed.parse = ScreenFeed::Parse::Escape;
}

void stepEscape(ScreenFeed& feed, unsigned char c, std::string& modelInput) {
  using P = ScreenFeed::Parse;
  if (c == kEsc) return restartEscape(feed, modelInput);
  feed.sequence += static_cast<char>(c);
  if (c == kCan || c == kSub) {
    feed.parse = P::Ground;
  } else if (c < 0x20 || c >= 0x7f) {
    return boundSequence(feed, modelInput);  // controls act and leave the sequence going; high bytes are skipped
  } else if (c <= 0x2f) {
    feed.parse = P::EscapeIntermediate;
    return boundSequence(feed, modelInput);
  } else if (feed.parse == P::Escape && c == '[') {
    feed.parse = P::Csi;
    feed.csi.clear();
    feed.csiBroken = false;
    return;
  } else if (feed.parse == P::Escape && (c == ']' || c == 'P' || c == '_' || c == '^' || c == 'X')) {
    feed.parse = P::String;
    feed.deviceString = c == 'P';
  } else {
    if (feed.parse == P::Escape && c == 'c') hardReset(feed);
    feed.parse = P::Ground;
  }
  emitSequence(feed, modelInput);
}

void stepCsi(ScreenFeed& feed, unsigned char c, std::string& modelInput) {
  if (c == kEsc) return restartEscape(feed, modelInput);
  feed.sequence += static_cast<char>(c);
  if (c == kCan || c == kSub) {
    feed.parse = ScreenFeed::Parse::Ground;
    return emitSequence(feed, modelInput);
  }
  if (c <= 0x3f) {
    if (c >= 0x20 && feed.csi.size() < kMaxCsi) feed.csi.push_back(static_cast<char>(c));
    else if (c >= 0x20) feed.csiBroken = true;
    return boundSequence(feed, modelInput);
  }
  if (c == 0x7f) return boundSequence(feed, modelInput);
  if (c > 0x7f) {  // the emulator ends the sequence there, the byte swallowed
    feed.parse = ScreenFeed::Parse::Ground;
    return emitSequence(feed, modelInput);
  }
  endCsi(feed, static_cast<char>(c));
  feed.parse = ScreenFeed::Parse::Ground;
  ControlSequence parts = splitControlSequence(feed.csi);
  const bool plain = parts.leader == 0 && parts.intermediates.empty();
  if (c == 'b' && (plain || feed.csiBroken)) {
    repeat(feed, plain && !feed.csiBroken, modelInput);
    feed.sequence.clear();
    feed.sequenceBegun = false;
    return;
  }
  emitSequence(feed, modelInput);
}

// One byte of anything but held plain text; what the model must see goes to modelInput. Escape
// and control sequences are held until they end.
void step(ScreenFeed& feed, unsigned char c, std::string& modelInput) {
  using P = ScreenFeed::Parse;
  switch (feed.parse) {
    case P::Ground:
      if (c >= 0x80) return takeUtf8(feed, c, modelInput);
      breakUtf8(feed, modelInput);
      if (c == kEsc) {
        feed.sequence.assign(1, kEsc);
        feed.sequenceBegun = false;
        feed.parse = P::Escape;
        return;
      }
      modelInput += static_cast<char>(c);
      return noteText(feed, c);
    case P::Escape:
    case P::EscapeIntermediate:
      return stepEscape(feed, c, modelInput);
    case P::Csi:
      return stepCsi(feed, c, modelInput);
    case P::String:
      if (c == kEsc) {
        feed.parse = P::StringEscape;
        return;
      }
      // Inside a device control string only controls reach the model: they act there as
      // anywhere, and the ones among them that end the string end it for the model too.
      if (!feed.deviceString || c < 0x20) modelInput += static_cast<char>(c);
      if (c == kBel || c == kCan || c == kSub) feed.parse = P::Ground;
      return;
    case P::StringEscape:
      if (c == '\\') {
        modelInput += "\x1b\\";
        feed.parse = P::Ground;
        return;
      }
      feed.sequence.assign(1, kEsc);
      feed.sequenceBegun = false;
      feed.parse = P::Escape;
      return stepEscape(feed, c, modelInput);
  }
}

// ---- holding and cutting plain text ----

// The length of the colour change (SGR: ESC [ digits ; : m) at p, or 0 when there is none.
size_t sgrLength(const char* p, size_t n) {
  if (n < 3 || p[0] != kEsc || p[1] != '[') return 0;
  for (size_t j = 2; j < n && j < kMaxCsi; ++j) {
    if (p[j] == 'm') return j + 1;
    if (!((p[j] >= '0' && p[j] <= '9') || p[j] == ';' || p[j] == ':')) return 0;
  }
  return 0;
}

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
      step(feed, bytes[i++], modelInput);
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
