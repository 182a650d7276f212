// Text machinery over terminal output: the escape stripper, the run frames' scanners, the
// escaper of sniff's record lines and the framing cache file. Scanners that look at growing
// output piece by piece must answer as a fresh scan of the whole text does.
#include "FuzzSupport.h"
#include "base/Wire.h"
#include "text/DisplayText.h"
#include "text/ExchangeText.h"
#include "text/MarkerFrame.h"
#include "text/OscFrame.h"
#include "text/ShellTraits.h"
#include "text/Strip.h"

using namespace kor;

namespace {

const std::string kToken = "0a1b2c3d";

void checkStripper(const std::string& text, size_t piece) {
  AnsiStripper stripper;
  std::string settled;
  for (size_t at = 0; at < text.size(); at += piece) {
    stripper.feed(text.data() + at, std::min(piece, text.size() - at));
    const std::string& now = stripper.text();
    FUZZ_CHECK(stripper.settledSize() <= now.size());
    FUZZ_CHECK(now.compare(0, settled.size(), settled) == 0);  // settled text never changes
    settled = now.substr(0, stripper.settledSize());
  }
  const std::string whole = stripAnsi(text);
  FUZZ_CHECK(stripper.text() == whole);
  FUZZ_CHECK(whole.find('\r') == std::string::npos && whole.size() <= text.size());
}

void checkScanners(const std::string& text, size_t piece) {
  MarkerScanner marker(kToken);
  OscScanner osc;
  for (size_t at = piece; ; at += piece) {
    const std::string seen = text.substr(0, std::min(at, text.size()));
    if (!marker.endFound) {
      marker.scan(seen);
      const MarkerResult fresh = extractMarkerOutput(seen, kToken);
      FUZZ_CHECK(marker.endFound == fresh.found && marker.lineStarted == markerStarted(seen, kToken));
      if (fresh.found)
        FUZZ_CHECK(seen.substr(marker.outStart, marker.endPos - marker.outStart) == fresh.output &&
                   marker.exitCode == fresh.exitCode);
    }
    if (!osc.endFound) {
      osc.scan(seen);
      const OscResult fresh = extractOscOutput(seen);
      FUZZ_CHECK(osc.endFound == fresh.found && osc.started == oscStarted(seen));
      if (fresh.found) {
        const OscResult scanned = osc.result(seen);
        FUZZ_CHECK(scanned.output == fresh.output && scanned.exitCode == fresh.exitCode);
      }
    }
    if (at >= text.size()) break;
  }
}

void checkEscaping(const std::string& text) {
  const std::string escaped = escapeBytes(text);
  for (unsigned char c : escaped) FUZZ_CHECK(c >= 0x20 && c < 0x7f);  // one line, nothing for the terminal
  FUZZ_CHECK(escaped.size() >= text.size());
  const std::string line = formatExchangeRecord(ExchangeRecord{text.empty() ? '<' : text[0], text});
  FUZZ_CHECK(line.find('\n') == line.size() - 1);
}

// Undoes printableText: the escapes it writes, back to the bytes they stand for.
std::string unescape(const std::string& shown) {
  std::string out;
  for (size_t at = 0; at < shown.size(); ++at) {
    if (shown[at] != '\\') {
      out += shown[at];
      continue;
    }
    FUZZ_CHECK(at + 1 < shown.size());
    const char kind = shown[++at];
    if (kind == '\\') out += '\\';
    else if (kind == 'n') out += '\n';
    else if (kind == 't') out += '\t';
    else if (kind == 'r') out += '\r';
    else {
      FUZZ_CHECK(kind == 'x' && at + 2 < shown.size());
      out += static_cast<char>(std::stoi(shown.substr(at + 1, 2), nullptr, 16));
      at += 2;
    }
  }
  return out;
}

void checkDisplay(const std::string& text) {
  const std::string shown = printableText(text);
  for (size_t at = 0; at < shown.size(); ++at) {
    const unsigned char c = static_cast<unsigned char>(shown[at]);
    FUZZ_CHECK(c >= 0x20 && c != 0x7f);                                             // no C0, no DEL
    if (c == 0xc2 && at + 1 < shown.size()) FUZZ_CHECK(static_cast<unsigned char>(shown[at + 1]) >= 0xa0);  // no C1
  }
  FUZZ_CHECK(unescape(shown) == text);  // nothing lost, no two texts shown alike
}

void checkFramingFile(const std::string& text) {
  ShellTraits traits;
  if (!parseFramingContent(text, traits)) return;
  ShellTraits again;
  FUZZ_CHECK(parseFramingContent(framingContent(traits), again));
  FUZZ_CHECK(again.pasteCapable == traits.pasteCapable && again.oscMarks == traits.oscMarks &&
             again.statusVar == traits.statusVar);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = data[0] % 32 + 1;
  const std::string text = fuzz::bytes(data + 1, size - 1);
  checkStripper(text, piece);
  checkScanners(text, piece);
  checkEscaping(text);
  checkDisplay(text);
  checkFramingFile(text);
  return 0;
}
