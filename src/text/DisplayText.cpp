#include "text/DisplayText.h"

namespace kor {

namespace {

// The length of the well-formed UTF-8 sequence of a printable character (U+00A0 and up) at
// text[at], or 0.
size_t printableSequence(const std::string& text, size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  size_t length;
  unsigned long code;
  if (lead >= 0xc2 && lead <= 0xdf) length = 2, code = lead & 0x1f;
  else if (lead >= 0xe0 && lead <= 0xef) length = 3, code = lead & 0x0f;
  else if (lead >= 0xf0 && lead <= 0xf4) length = 4, code = lead & 0x07;
  else return 0;
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xc0) != 0x80) return 0;
    code = code << 6 | (next & 0x3f);
  }
  static const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < smallest[length] || code > 0x10ffff || (code >= 0xd800 && code <= 0xdfff)) return 0;
  return code >= 0xa0 ? length : 0;  // U+0080 to U+009F are the C1 controls
}

}  // namespace

std::string printableText(const std::string& text) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    const unsigned char byte = static_cast<unsigned char>(text[at]);
    if (byte >= 0x20 && byte < 0x7f) {
      if (byte == '\\') out += '\\';
      out += static_cast<char>(byte);
      ++at;
    } else if (size_t length = printableSequence(text, at)) {
      out.append(text, at, length);
      at += length;
    } else {
      if (byte == '\t') out += "\\t";
      else if (byte == '\n') out += "\\n";
      else if (byte == '\r') out += "\\r";
      else out += std::string("\\x") + kHex[byte >> 4] + kHex[byte & 0x0f];
      ++at;
    }
  }
  return out;
}

}  // namespace kor
