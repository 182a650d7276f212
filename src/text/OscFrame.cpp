#include "text/OscFrame.h"

#include <cstring>
#include <vector>

namespace kor {

namespace {

constexpr char kEsc = '\x1b';
constexpr char kBel = '\x07';
const char kIntroducer[] = "\x1b]133;";  // 6 bytes
constexpr size_t kIntroducerLength = 6;

// What the ESC at p turns out to be: a terminated mark, surely not a mark, or not known yet
// because the text ends before its terminator (more output may still complete it).
enum class Candidate { Undecided, NotMark, Mark };

Candidate classifyMark(const std::string& text, size_t p, char& letter, OscMark& mark) {
  const size_t n = text.size();
  const size_t available = n - p;
  if (available < kIntroducerLength + 1) {
    size_t k = available < kIntroducerLength ? available : kIntroducerLength;
    return std::memcmp(text.data() + p, kIntroducer, k) == 0 ? Candidate::Undecided : Candidate::NotMark;
  }
  if (std::memcmp(text.data() + p, kIntroducer, kIntroducerLength) != 0) return Candidate::NotMark;
  letter = text[p + 6];
  size_t q = p + 7;
  int exitCode = -1;
  if (letter == 'D' && q < n && text[q] == ';') {
    q = p + 8;
    int value = 0;
    bool any = false, overflow = false;
    while (q < n && text[q] >= '0' && text[q] <= '9') {
      int d = text[q] - '0';
      if (!overflow && value > (2147483647 - d) / 10) overflow = true;
      if (!overflow) value = value * 10 + d;
      any = true;
      ++q;
    }
    if (any && !overflow) exitCode = value;
  }
  for (; q < n; ++q) {
    if (text[q] == kBel) {
      mark = OscMark{p, q + 1, exitCode};
      return Candidate::Mark;
    }
    if (text[q] == kEsc) {
      if (q + 1 >= n) return Candidate::Undecided;
      if (text[q + 1] != '\\') return Candidate::NotMark;
      mark = OscMark{p, q + 2, exitCode};
      return Candidate::Mark;
    }
  }
  return Candidate::Undecided;
}

size_t nextEsc(const std::string& text, size_t from) {
  if (from >= text.size()) return std::string::npos;
  const void* hit = std::memchr(text.data() + from, kEsc, text.size() - from);
  return hit ? static_cast<size_t>(static_cast<const char*>(hit) - text.data()) : std::string::npos;
}

bool sameBytes(const std::string& text, size_t pos, const char* bytes, size_t count) {
  return pos + count <= text.size() && std::memcmp(text.data() + pos, bytes, count) == 0;
}

// Past the SGR sequence (ESC "[" digits/";" "m") at p, or p; reset tells whether it only
// resets attributes (no digit but 0).
size_t skipSgr(const std::string& text, size_t p, size_t end, bool& reset) {
  if (p + 2 >= end || text[p] != kEsc || text[p + 1] != '[') return p;
  reset = true;
  for (size_t q = p + 2; q < end; ++q) {
    char c = text[q];
    if (c == 'm') return q + 1;
    if (c >= '1' && c <= '9') reset = false;
    else if (c != '0' && c != ';') return p;
  }
  return p;
}

// Past the character-set designation (ESC, one of "()*+-./", a final byte) at p, or p.
size_t skipDesignation(const std::string& text, size_t p, size_t end) {
  if (p + 2 >= end || text[p] != kEsc || text[p + 1] == 0 || std::strchr("()*+-./", text[p + 1]) == nullptr) return p;
  return p + 3;
}

// A leading run of SGR sequences and designations: past its last attribute reset, or p.
size_t skipResetRun(const std::string& text, size_t p, size_t end) {
  size_t pastReset = p;
  for (size_t q = p;;) {
    bool reset = false;
    size_t next = skipSgr(text, q, end, reset);
    if (next == q) next = skipDesignation(text, q, end);
    if (next == q) return pastReset;
    if (reset) pastReset = next;
    q = next;
  }
}

// Walks back over SGR sequences (ESC "[" digits/";" "m") that end at q.
size_t skipSgrBack(const std::string& text, size_t start, size_t q) {
  while (q > start && text[q - 1] == 'm') {
    if (q < 2) break;
    size_t k = q - 1;  // one past the run of digits and ';' that ends at q - 2
    while (k > start && ((text[k - 1] >= '0' && text[k - 1] <= '9') || text[k - 1] == ';')) --k;
    if (k >= start + 2 && text[k - 1] == '[' && text[k - 2] == kEsc) q = k - 2;
    else break;
  }
  return q;
}

}  // namespace

std::string buildOscFrame(const std::string& cmd, const std::string& token, bool pasted, PasteWord pasteWord) {
  if (pasted) return "\x1b[200~ eval " + evalWord(cmd, pasteWord) + "\x1b[201~\r";
  return " eval \"$(cat " + hereDocument(cmd, "KORCTL_BODY_" + token) + ")\"\n";
}

bool findOscMark(const std::string& text, size_t from, char letter, OscMark& mark, size_t& resume) {
  resume = std::string::npos;
  for (size_t p = nextEsc(text, from); p != std::string::npos; p = nextEsc(text, p + 1)) {
    char found = 0;
    OscMark candidate;
    Candidate kind = classifyMark(text, p, found, candidate);
    if (kind == Candidate::Mark && found == letter) {
      mark = candidate;
      resume = candidate.start;
      return true;
    }
    if (kind == Candidate::Undecided && resume == std::string::npos) resume = p;
  }
  if (resume == std::string::npos) resume = text.size() > from ? text.size() : from;
  return false;
}

bool findOscMark(const std::string& text, size_t from, char letter, OscMark& mark) {
  size_t resume;
  return findOscMark(text, from, letter, mark, resume);
}

void OscScanner::scan(const std::string& text) {
  if (endFound) return;
  size_t p = nextEsc(text, resume);
  while (p != std::string::npos) {
    char letter = 0;
    OscMark mark;
    Candidate kind = classifyMark(text, p, letter, mark);
    if (kind == Candidate::Undecided) {
      // An unfinished mark runs to the end of the text: no ESC after it can start a mark yet.
      resume = p;
      return;
    }
    // The next candidate is the next ESC, even after a mark: a mark whose letter byte is
    // itself an ESC holds a candidate of its own.
    if (kind == Candidate::Mark) {
      if (letter == 'C') {
        started = true;
        haveC = true;
        outFrom = mark.end;
      } else if (letter == 'D') {
        started = true;
        if (haveC) {
          endFound = true;
          end = mark;
          resume = mark.end;
          return;
        }
      }
    }
    p = nextEsc(text, p + 1);
  }
  resume = text.size();
}

OscResult OscScanner::result(const std::string& text) const {
  OscResult out;
  if (!endFound) return out;
  out.found = true;
  out.exitCode = end.exitCode;
  size_t from, to;
  captureBounds(text, outFrom, end.start, from, to);
  out.output = text.substr(from, to - from);
  return out;
}

OscResult extractOscOutput(const std::string& text) {
  OscScanner scanner;
  scanner.scan(text);
  return scanner.result(text);
}

bool oscStarted(const std::string& text) {
  OscMark mark;
  return findOscMark(text, 0, 'C', mark) || findOscMark(text, 0, 'D', mark);
}

size_t skipNoise(const std::string& text, size_t pos, size_t end, bool leading) {
  if (pos >= end) return pos;
  if (leading && text[pos] == '\r') {
    size_t q = pos;
    while (q < end && text[q] == '\r') ++q;
    return q;
  }
  if (text[pos] != kEsc || end - pos < 2) return pos;
  if (end - pos >= 8 && sameBytes(text, pos, "\x1b[?2004", 7) && (text[pos + 7] == 'h' || text[pos + 7] == 'l'))
    return pos + 8;
  const char next = text[pos + 1];
  if (leading && (next == '[' || (next != 0 && std::strchr("()*+-./", next)))) return skipResetRun(text, pos, end);
  if (next != ']') return pos;
  const size_t h = pos + 2;
  const size_t a = end - h;
  size_t length = 0;
  bool other = false;
  if (a >= 5) {
    if (sameBytes(text, h, "1337;", 5)) length = 7;
    else if (sameBytes(text, h, "7;", 2)) length = 4;
    else if (sameBytes(text, h, "133;", 4) && text[pos + 6] >= 'A' && text[pos + 6] <= 'D') length = 7;
    else other = true;
  } else if (a >= 2) {
    if (sameBytes(text, h, "7;", 2)) length = 4;
    else other = true;
  } else {
    return pos;
  }
  if (other) {
    if (!leading) return pos;
    if ((text[h] == '0' || text[h] == '1' || text[h] == '2') && text[h + 1] == ';') length = 4;
    else return pos;
  }
  if (pos + length >= end) return pos;
  for (size_t q = pos + length; q < end; ++q) {
    if (text[q] == kBel) return q + 1;
    if (text[q] == kEsc) return (q + 1 < end && text[q + 1] == '\\') ? q + 2 : pos;
  }
  return pos;
}

size_t trimPartialLineMarker(const std::string& text, size_t start, size_t end) {
  if (end <= start || text[end - 1] != '\r') return end;
  size_t r = end;
  do {
    if (r >= start + 3 && text[r - 3] == '\r' && text[r - 2] == ' ') r -= 2;
    else r -= 1;
  } while (r > start && text[r - 1] == '\r');
  size_t q = r;
  while (q > start && text[q - 1] == ' ') --q;
  if (q == r || q == start) return end;
  q = skipSgrBack(text, start, q);
  if (q == start) return end;
  const char marker = text[q - 1];
  if (marker == kEsc || marker == '\r' || marker == '\n' || marker == ' ') return end;
  return skipSgrBack(text, start, q - 1);
}

void captureBounds(const std::string& text, size_t from, size_t to, size_t& start, size_t& end) {
  start = from;
  for (size_t next; (next = skipNoise(text, start, to, true)) > start;) start = next;
  std::vector<size_t> escs;
  for (size_t p = nextEsc(text, start); p != std::string::npos && p < to; p = nextEsc(text, p + 1)) escs.push_back(p);
  end = to;
  while (end > start) {
    while (!escs.empty() && escs.back() >= end) escs.pop_back();
    if (escs.empty()) break;
    size_t index = escs.size() - 1;
    size_t e = escs[index];
    if (e + 2 == end && text[end - 1] == '\\') {
      if (index == 0) break;
      e = escs[--index];
    }
    if (skipNoise(text, e, end, false) == end) {
      end = e;
      continue;
    }
    size_t m = trimPartialLineMarker(text, start, end);
    if (m == end) break;
    end = m;
  }
}

std::string cleanCapture(const std::string& text) {
  size_t start, end;
  captureBounds(text, 0, text.size(), start, end);
  return text.substr(start, end - start);
}

}  // namespace kor
