#include "text/CommandText.h"

namespace kor {

namespace {

bool hasLongLine(const std::string& text) {
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    if ((end == std::string::npos ? text.size() : end) - start > kMaxTypedLine) return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

// cmd as the body of an unquoted here-document, no physical line longer than the limit.
std::string escapedBody(const std::string& cmd) {
  std::string body;
  size_t lineLength = 0;
  for (char c : cmd) {
    if (c == '\n') {
      body += '\n';
      lineLength = 0;
      continue;
    }
    const bool escaped = c == '\\' || c == '$' || c == '`';
    const size_t width = escaped ? 2 : 1;
    if (lineLength + width + 1 > kMaxTypedLine) {  // room for the continuation's backslash
      body += "\\\n";
      lineLength = 0;
    }
    if (escaped) body += '\\';
    body += c;
    lineLength += width;
  }
  return body;
}

std::string hexByte(unsigned char c) {
  static const char digits[] = "0123456789ABCDEF";
  return std::string{'%', digits[c >> 4], digits[c & 0xF]};
}

}  // namespace

std::string hereDocument(const std::string& cmd, const std::string& delimiter) {
  if (!hasLongLine(cmd)) return "<<'" + delimiter + "'\n" + cmd + "\n" + delimiter + "\n";
  return "<<" + delimiter + "\n" + escapedBody(cmd) + "\n" + delimiter + "\n";
}

std::string evalWord(const std::string& cmd, PasteWord style) {
  std::string word;
  if (style == PasteWord::kFishUnescape) {
    // Inside fish's double quotes only '"', '$' and '\' are special; '\'' is encoded too, since
    // the paste handles each one on its own, every control byte, so the paste is one line, and
    // every byte past ASCII, which the decoder takes only encoded.
    for (char c : cmd) {
      unsigned char u = static_cast<unsigned char>(c);
      if (u < 0x20 || u >= 0x7f || c == '"' || c == '$' || c == '\\' || c == '\'' || c == '%') word += hexByte(u);
      else word += c;
    }
    return "(string unescape --style=url -- \"" + word + "\" | string collect)";
  }
  word = "'";
  for (char c : cmd) {
    if (c == '\'') word += "'\"'\"'";
    else if (c == '\\') word += "'\"\\\\\"'";
    else word += c;
  }
  return word + "'";
}

}  // namespace kor
