#include "text/MarkerFrame.h"

#include <climits>
#include <cstdint>
#include <random>

namespace kor {

std::string makeRunToken() {
  static const char digits[] = "0123456789abcdef";
  std::random_device device("/dev/urandom");
  std::string token;
  for (int i = 0; i < 8; ++i) token += digits[device() & 0xF];
  return token;
}

std::string buildMarkerFrame(const std::string& cmd, const std::string& token, bool pasted,
                             const std::string& statusRef, PasteWord pasteWord) {
  const std::string word = "KORCTL_" + token;
  const std::string end = "echo " + word + ":" + statusRef;
  // Every line of the paste starts with a space: bash keeps each in its history on its own.
  if (pasted) return "\x1b[200~ echo " + word + "\n eval " + evalWord(cmd, pasteWord) + "\n " + end + "\x1b[201~\r";
  return " echo " + word + "; KORCTL_C=$(cat " + hereDocument(cmd, "KORCTL_BODY_" + token) +
         "); KORCTL_E=${ZSH_VERSION+builtin}; if (eval \"KORCTL_check() {\n$KORCTL_C\n}\") 2>/dev/null; then "
         "${KORCTL_E:-command} eval \"$KORCTL_C\"; else (eval \"$KORCTL_C\"); fi; " +
         end + "; unset KORCTL_C KORCTL_E\n";
}

int markerStatusValue(const char* digits, size_t count) {
  // atoi is strtol cast to int: the value saturates at LONG_MAX, then keeps its low 32 bits.
  uint64_t value = 0;
  for (size_t i = 0; i < count; ++i) {
    unsigned d = static_cast<unsigned>(digits[i] - '0');
    if (value > (static_cast<uint64_t>(LLONG_MAX) - d) / 10) {
      value = static_cast<uint64_t>(LLONG_MAX);
      break;
    }
    value = value * 10 + d;
  }
  return static_cast<int32_t>(static_cast<uint32_t>(value));
}

MarkerScanner::MarkerScanner(const std::string& token) : word("KORCTL_" + token) {}

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

// What follows one occurrence of the marker word.
enum class After { Undecided, Nothing, StartLine, EndLine };

// Looks at the bytes after the word ending at q. For a start line, lineEnd is set past its
// line end; for an end line, digitsFrom/digitsTo hold its status digits.
After classify(const std::string& text, size_t q, size_t& lineEnd, size_t& digitsFrom, size_t& digitsTo) {
  const size_t n = text.size();
  if (q >= n) return After::Undecided;
  if (text[q] == '\n') {
    lineEnd = q + 1;
    return After::StartLine;
  }
  if (text[q] == '\r') {
    if (q + 1 >= n) return After::Undecided;
    if (text[q + 1] != '\n') return After::Nothing;
    lineEnd = q + 2;
    return After::StartLine;
  }
  if (text[q] != ':') return After::Nothing;
  size_t r = q + 1;
  while (r < n && isDigit(text[r])) ++r;
  if (r >= n) return After::Undecided;
  if (r == q + 1) return After::Nothing;
  digitsFrom = q + 1;
  digitsTo = r;
  if (text[r] == '\n') return After::EndLine;
  if (text[r] != '\r') return After::Nothing;
  if (r + 1 >= n) return After::Undecided;
  return text[r + 1] == '\n' ? After::EndLine : After::Nothing;
}

}  // namespace

void MarkerScanner::scan(const std::string& text) {
  if (endFound) return;
  const size_t w = word.size();
  size_t p = resume;
  while ((p = text.find(word, p)) != std::string::npos) {
    size_t lineEnd = 0, digitsFrom = 0, digitsTo = 0;
    After after = classify(text, p + w, lineEnd, digitsFrom, digitsTo);
    if (after == After::Undecided) {
      // Nothing after an undecided occurrence can hold the word (only digits, "\r" or nothing
      // follow it), so the next scan starts right here.
      resume = p;
      return;
    }
    if (after == After::EndLine) {
      endFound = true;
      endPos = p;
      exitCode = markerStatusValue(text.data() + digitsFrom, digitsTo - digitsFrom);
      return;
    }
    if (after == After::StartLine) {
      outStart = lineEnd;
      if (p > 0 && (text[p - 1] == '\r' || text[p - 1] == '\n')) {
        lineStarted = true;
        lineStartEnd = lineEnd;
      }
    }
    p += w;
  }
  // A word cut off by the end of the text starts in its last w - 1 bytes.
  size_t tail = text.size() >= w ? text.size() - w + 1 : 0;
  if (tail > resume) resume = tail;
}

MarkerResult extractMarkerOutput(const std::string& accumulated, const std::string& token) {
  MarkerScanner scanner(token);
  scanner.scan(accumulated);
  MarkerResult result;
  if (!scanner.endFound) return result;
  result.found = true;
  result.exitCode = scanner.exitCode;
  result.output = accumulated.substr(scanner.outStart, scanner.endPos - scanner.outStart);
  return result;
}

bool markerStarted(const std::string& accumulated, const std::string& token) {
  const std::string word = "KORCTL_" + token;
  for (size_t p = accumulated.find(word); p != std::string::npos; p = accumulated.find(word, p + word.size())) {
    size_t lineEnd = 0, digitsFrom = 0, digitsTo = 0;
    if (p > 0 && (accumulated[p - 1] == '\r' || accumulated[p - 1] == '\n') &&
        classify(accumulated, p + word.size(), lineEnd, digitsFrom, digitsTo) == After::StartLine)
      return true;
  }
  return false;
}

}  // namespace kor
