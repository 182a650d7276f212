#include "text/Strip.h"

#include <cstring>

namespace kor {

using namespace strip_detail;

namespace {

const char kEsc = 0x1b;
const char kBel = 0x07;
const char kEscBracket[] = {0x1b, ']'};

bool isParam(unsigned char c) { return (c >= '0' && c <= '9') || c == ';' || c == '?'; }
bool isIntermediate(unsigned char c) { return c >= 0x20 && c <= 0x2f; }
bool isFinal(unsigned char c) { return c >= 0x40 && c <= 0x7e; }
bool isTwoByteSecond(unsigned char c) { return (c >= 0x40 && c <= 0x5a) || (c >= 0x5c && c <= 0x5f); }

const char* findEsc(const char* p, const char* end) {
  return static_cast<const char*>(std::memchr(p, kEsc, static_cast<size_t>(end - p)));
}

// Last stage: drops carriage returns.
struct CrSink {
  std::string& out;
  void feed(const char* p, size_t n) {
    const char* end = p + n;
    while (p < end) {
      const char* cr = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
      if (!cr) {
        out.append(p, static_cast<size_t>(end - p));
        return;
      }
      out.append(p, static_cast<size_t>(cr - p));
      p = cr + 1;
    }
  }
};

// A match starts only at ESC. On a failed attempt the regex engine moves on by one byte, and
// since no stage's candidate can hold a second ESC, the next attempt starts at the byte that
// made the candidate fail; each stage therefore re-reads at most that one byte.

template <class Next>
void feedTwoByte(TwoByteStage& s, const char* p, size_t n, Next& next) {
  const char* end = p + n;
  while (p < end) {
    if (s.sawEsc) {
      unsigned char c = static_cast<unsigned char>(*p);
      if (isTwoByteSecond(c)) {
        s.sawEsc = false;
        ++p;
        continue;
      }
      next.feed(&kEsc, 1);
      if (c == 0x1b) {
        ++p;
        continue;
      }
      s.sawEsc = false;
    }
    const char* esc = findEsc(p, end);
    if (!esc) {
      next.feed(p, static_cast<size_t>(end - p));
      return;
    }
    next.feed(p, static_cast<size_t>(esc - p));
    s.sawEsc = true;
    p = esc + 1;
  }
}

template <class Next>
void finishTwoByte(TwoByteStage& s, Next& next) {
  if (s.sawEsc) next.feed(&kEsc, 1);
  s.sawEsc = false;
}

template <class Next>
void feedCsi(CsiStage& s, const char* p, size_t n, Next& next) {
  const char* end = p + n;
  while (p < end) {
    switch (s.state) {
      case CsiStage::kIdle: {
        const char* esc = findEsc(p, end);
        if (!esc) {
          next.feed(p, static_cast<size_t>(end - p));
          return;
        }
        next.feed(p, static_cast<size_t>(esc - p));
        s.state = CsiStage::kEsc;
        p = esc + 1;
        break;
      }
      case CsiStage::kEsc:
        if (*p == '[') {
          s.pending.assign("\x1b[");
          s.state = CsiStage::kParams;
          ++p;
        } else {
          next.feed(&kEsc, 1);
          if (*p == kEsc) ++p;
          else s.state = CsiStage::kIdle;
        }
        break;
      case CsiStage::kParams:
      case CsiStage::kIntermediates: {
        const char* q = p;
        if (s.state == CsiStage::kParams)
          while (q < end && isParam(static_cast<unsigned char>(*q))) ++q;
        if (q < end && isIntermediate(static_cast<unsigned char>(*q))) {
          s.state = CsiStage::kIntermediates;
          while (q < end && isIntermediate(static_cast<unsigned char>(*q))) ++q;
        }
        s.pending.append(p, static_cast<size_t>(q - p));
        p = q;
        if (p == end) return;
        if (isFinal(static_cast<unsigned char>(*p))) {
          ++p;  // a whole sequence: dropped
        } else {
          next.feed(s.pending.data(), s.pending.size());
        }
        s.pending.clear();
        s.state = CsiStage::kIdle;
        break;
      }
    }
  }
}

template <class Next>
void finishCsi(CsiStage& s, Next& next) {
  if (s.state == CsiStage::kEsc) next.feed(&kEsc, 1);
  if (s.state == CsiStage::kParams || s.state == CsiStage::kIntermediates)
    next.feed(s.pending.data(), s.pending.size());
  s.pending.clear();
  s.state = CsiStage::kIdle;
}

template <class Next>
void feedOsc(OscStage& s, const char* p, size_t n, Next& next) {
  const char* end = p + n;
  while (p < end) {
    switch (s.state) {
      case OscStage::kIdle: {
        const char* esc = findEsc(p, end);
        if (!esc) {
          next.feed(p, static_cast<size_t>(end - p));
          return;
        }
        next.feed(p, static_cast<size_t>(esc - p));
        s.state = OscStage::kEsc;
        p = esc + 1;
        break;
      }
      case OscStage::kEsc:
        if (*p == ']') {
          s.pending.assign(kEscBracket, 2);
          s.state = OscStage::kBody;
          ++p;
        } else {
          next.feed(&kEsc, 1);
          if (*p == kEsc) ++p;
          else s.state = OscStage::kIdle;
        }
        break;
      case OscStage::kBody: {
        const char* q = p;
        while (q < end && *q != kBel && *q != kEsc) ++q;
        s.pending.append(p, static_cast<size_t>(q - p));
        p = q;
        if (p == end) return;
        if (*p == kBel) {
          s.pending.clear();
          s.state = OscStage::kIdle;
        } else {
          s.state = OscStage::kBodyEsc;
        }
        ++p;
        break;
      }
      case OscStage::kBodyEsc:
        if (*p == '\\') {
          s.pending.clear();
          s.state = OscStage::kIdle;
          ++p;
        } else {
          // No terminator: the sequence stays, and its closing ESC may open the next one.
          next.feed(s.pending.data(), s.pending.size());
          s.pending.clear();
          s.state = OscStage::kEsc;
        }
        break;
    }
  }
}

// What the OSC stage hands on when the input ends here; does not change the stage.
template <class Next>
void drainOsc(const OscStage& s, Next& next) {
  if (s.state == OscStage::kEsc) next.feed(&kEsc, 1);
  if (s.state == OscStage::kBody || s.state == OscStage::kBodyEsc) next.feed(s.pending.data(), s.pending.size());
  if (s.state == OscStage::kBodyEsc) next.feed(&kEsc, 1);
}

struct ToTwoByte {
  TwoByteStage& stage;
  CrSink& next;
  void feed(const char* p, size_t n) { feedTwoByte(stage, p, n, next); }
};
struct ToCsi {
  CsiStage& stage;
  ToTwoByte& next;
  void feed(const char* p, size_t n) { feedCsi(stage, p, n, next); }
};

// Runs whatever the stages still hold through the rest of the pipeline, as at the end of input.
void drain(const OscStage& osc, CsiStage& csi, TwoByteStage& twoByte, std::string& out) {
  CrSink sink{out};
  ToTwoByte toTwoByte{twoByte, sink};
  ToCsi toCsi{csi, toTwoByte};
  drainOsc(osc, toCsi);
  finishCsi(csi, toTwoByte);
  finishTwoByte(twoByte, sink);
}

}  // namespace

void AnsiStripper::feed(const char* data, size_t length) {
  out.resize(settled);
  CrSink sink{out};
  ToTwoByte toTwoByte{twoByte, sink};
  ToCsi toCsi{csi, toTwoByte};
  feedOsc(osc, data, length, toCsi);
  settled = out.size();
}

const std::string& AnsiStripper::text() {
  out.resize(settled);
  CsiStage csiCopy = csi;
  TwoByteStage twoByteCopy = twoByte;
  drain(osc, csiCopy, twoByteCopy, out);
  return out;
}

std::string stripAnsi(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  OscStage osc;
  CsiStage csi;
  TwoByteStage twoByte;
  CrSink sink{out};
  ToTwoByte toTwoByte{twoByte, sink};
  ToCsi toCsi{csi, toTwoByte};
  feedOsc(osc, text.data(), text.size(), toCsi);
  drain(osc, csi, twoByte, out);
  return out;
}

}  // namespace kor
