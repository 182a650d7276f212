// What the daemon and attach make of whatever a session's programs print: the screen model
// (its feed and the emulator behind it) through pieces and resizes, the screen as korctl shows
// it, the screen reply, and the filter that takes terminal queries out of replayed output.
#include <nlohmann/json.hpp>

#include "FuzzSupport.h"
#include "base/Wire.h"
#include "kor/Screen.h"
#include "text/ScreenText.h"
#include "text/TerminalQueries.h"

using namespace kor;

namespace {

bool isUtf8(const std::string& text) {
  for (size_t at = 0; at < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
    if (length == 0 || at + length > text.size()) return false;
    for (size_t i = 1; i < length; ++i)
      if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) return false;
    at += length;
  }
  return true;
}

bool isSubsequence(const std::string& part, const std::string& whole) {
  size_t at = 0;
  for (char c : whole)
    if (at < part.size() && part[at] == c) ++at;
  return at == part.size();
}

void checkImage(const ScreenImage& image, int rows, int cols) {
  FUZZ_CHECK(image.rows == rows && image.cols == std::max(cols, 2));
  FUZZ_CHECK(image.lines.size() == static_cast<size_t>(rows));
  FUZZ_CHECK(image.cursorRow >= 0 && image.cursorRow < rows);
  FUZZ_CHECK(image.cursorCol >= 0 && image.cursorCol < image.cols);
  for (const std::string& line : image.lines) FUZZ_CHECK(isUtf8(line));
  ScreenImage decoded;
  FUZZ_CHECK(decodeScreenReply(encodeScreenReply(image), decoded));
  FUZZ_CHECK(decoded.lines == image.lines && decoded.rows == image.rows && decoded.cols == image.cols &&
             decoded.cursorRow == image.cursorRow && decoded.cursorCol == image.cursorCol &&
             decoded.alternate == image.alternate && decoded.cursorVisible == image.cursorVisible);
  const nlohmann::json json = nlohmann::json::parse(screenJson(image));
  FUZZ_CHECK(json["lines"].size() == image.lines.size());
  FUZZ_CHECK(screenRows(image).size() >= image.lines.size());
  screenDrawing(image);
}

// The output in pieces of a size the input picks; a resize to a size it picks now and then.
void checkScreen(const std::string& output, unsigned shape) {
  int rows = 1 + static_cast<int>(shape % 40), cols = 1 + static_cast<int>(shape / 40 % 120);
  Screen screen = makeScreen(rows, cols);
  const size_t piece = 1 + shape / 4800 % 64;
  for (size_t at = 0; at < output.size(); at += piece) {
    feedScreen(screen, output.data() + at, std::min(piece, output.size() - at));
    if (static_cast<unsigned char>(output[at]) == 0xFE) {
      rows = 1 + (rows * 7 + static_cast<int>(at)) % 40;
      cols = 1 + (cols * 13 + static_cast<int>(at)) % 120;
      resizeScreen(screen, rows, cols);
    }
  }
  checkImage(captureScreen(screen, false), rows, cols);
  checkImage(captureScreen(screen, true), rows, cols);
}

// Filtered in pieces or whole, the same bytes come out, and only bytes that went in, in order.
void checkQueryFilter(const std::string& output, size_t piece) {
  QueryFilter whole;
  const std::string once = filterQueries(whole, output) + releaseQueries(whole);
  FUZZ_CHECK(isSubsequence(once, output));
  QueryFilter pieces;
  std::string out;
  for (size_t at = 0; at < output.size(); at += piece) out += filterQueries(pieces, output.substr(at, piece));
  FUZZ_CHECK(out + releaseQueries(pieces) == once);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const unsigned shape = data[0] | data[1] << 8;
  const std::string output = fuzz::bytes(data + 2, size - 2);
  checkScreen(output, shape * 7919u);
  checkQueryFilter(output, 1 + data[0] % 32);
  return 0;
}
