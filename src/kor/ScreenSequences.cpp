#include "kor/ScreenSequences.h"

#include <algorithm>
#include <vector>

#include "base/ControlSequence.h"

namespace kor {

namespace {

constexpr size_t kMaxCsi = 64;
// The model keeps a control sequence's parameters in a fixed array and writes past it from the
// 17th on: the rest are left out of what it is given.
constexpr int kMaxModelParams = 16;
constexpr size_t kMaxHeldSequence = 4096;

bool hasParam(const ControlSequence& parts, long wanted) {
  return std::find(parts.params.begin(), parts.params.end(), wanted) != parts.params.end();
}

// A broken sequence may still have done something: it may set what stops the cut, never clear it.
void endCsi(ScreenFeed& feed, const ControlSequence& parts, char final) {
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

void emitSequence(ScreenFeed& feed, std::string& modelInput) {
  modelInput += feed.sequence;
  feed.sequence.clear();
  feed.sequenceBegun = false;
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

// A sequence that will not reach the model does nothing but its controls (which act inside a
// sequence): the model gets those, and a cancel for what it has already seen of it.
void abandonSequence(ScreenFeed& feed, std::string& modelInput) {
  for (char c : feed.sequence)
    if (static_cast<unsigned char>(c) < 0x20 && c != kEsc) modelInput += c;
  if (feed.sequenceBegun) modelInput += kCan;
  feed.sequence.clear();
  feed.sequenceBegun = false;
}

// The emulator repeats with the width of the last character, and never ends when that width is
// 0 (nothing printed yet, or a combining mark alone). It repeats ASCII; other characters are
// repeated here as text, up to a row's worth; with nothing printed the repeat is dropped.
void repeat(ScreenFeed& feed, const ControlSequence& parts, bool sure, std::string& modelInput) {
  const std::string& last = feed.lastText;
  if (last.size() == 1 && isAsciiPrintable(static_cast<unsigned char>(last[0]))) return emitSequence(feed, modelInput);
  abandonSequence(feed, modelInput);
  if (last.empty()) return;
  long count = sure ? sequenceParam(parts, 0) : 1;
  count = std::min<long>(std::max<long>(count, 1), feed.cols);
  for (long i = 0; i < count; ++i) modelInput += last;
}


// An escape ends the sequence being read, as it does in the model. That one is not passed on,
// so the model is never left inside it when what comes next is not passed on either (a repeat
// with nothing to repeat, which it would then read as the first one's end).
void restartEscape(ScreenFeed& feed, std::string& modelInput) {
  abandonSequence(feed, modelInput);
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
  } else if (c == '[') {  // (the model begins a control sequence here after intermediates too)
    feed.parse = P::Csi;
    feed.csi.clear();
    feed.csiBroken = false;
    feed.csiSeparators = 0;
    return;
  } else if (c == ']' || c == 'P' || (feed.parse == P::Escape && (c == '_' || c == '^' || c == 'X'))) {
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
  if (c == ';' || c == ':') ++feed.csiSeparators;
  if (c >= 0x30 && c <= 0x3f && feed.csiSeparators >= kMaxModelParams) {
    feed.csiBroken = true;
    return;
  }
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
  const ControlSequence parts = splitControlSequence(feed.csi);  // parsed once for both uses
  endCsi(feed, parts, static_cast<char>(c));
  feed.parse = ScreenFeed::Parse::Ground;
  const bool plain = parts.leader == 0 && parts.intermediates.empty();
  if (c == 'b' && (plain || feed.csiBroken)) {
    return repeat(feed, parts, plain && !feed.csiBroken, modelInput);
  }
  emitSequence(feed, modelInput);
}

}  // namespace

bool isAsciiPrintable(unsigned char c) { return c >= 0x20 && c <= 0x7e; }

void noteText(ScreenFeed& feed, unsigned char c) {
  if (isAsciiPrintable(c)) feed.lastText.assign(1, static_cast<char>(c));
}

void giveSequenceSoFar(ScreenFeed& feed, std::string& modelInput) {
  modelInput += feed.sequence;
  feed.sequence.clear();
  feed.sequenceBegun = true;
}

// (Also at a byte that is not a continuation, and at an escape.)
void breakUtf8(ScreenFeed& feed, std::string& modelInput) {
  if (feed.utf8Need == 0) return;
  feed.utf8.clear();
  feed.utf8Need = 0;
  replacement(feed, modelInput);
}

size_t sgrLength(const char* p, size_t n) {
  if (n < 3 || p[0] != kEsc || p[1] != '[') return 0;
  int separators = 0;
  for (size_t j = 2; j < n && j < kMaxCsi; ++j) {
    if (p[j] == 'm') return j + 1;
    if (p[j] == ';' || p[j] == ':') {
      if (++separators >= kMaxModelParams) return 0;  // (cut down as any other sequence is)
    } else if (p[j] < '0' || p[j] > '9') {
      return 0;
    }
  }
  return 0;
}

void stepSequence(ScreenFeed& feed, unsigned char c, std::string& modelInput) {
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
      // Any other escape ends the string: it is ended for the model at once (by a cancel), so
      // the model is never left inside it when the escape's own sequence is not passed on.
      modelInput += kCan;
      feed.sequence.assign(1, kEsc);
      feed.sequenceBegun = false;
      feed.parse = P::Escape;
      return stepEscape(feed, c, modelInput);
  }
}

}  // namespace kor
