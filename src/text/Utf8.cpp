#include "text/Utf8.h"

namespace kor {

namespace {

// The length of the well-formed sequence at bytes[at], or 0 when none starts there; then
// *consumed is the length of the ill-formed prefix to replace by one U+FFFD (at least 1).
size_t sequenceAt(const std::string& bytes, size_t at, size_t* consumed) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  const unsigned char lead = byte(at);
  *consumed = 1;
  if (lead < 0x80) return 1;
  size_t length;
  unsigned char low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // past U+10FFFF
  } else {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if (at + i >= bytes.size()) return 0;
    const unsigned char next = byte(at + i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    *consumed = i + 1;
  }
  return length;
}

}  // namespace

bool isValidUtf8(const std::string& bytes) {
  size_t consumed;
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = sequenceAt(bytes, at, &consumed);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string replaceInvalidUtf8(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  size_t consumed;
  for (size_t at = 0; at < bytes.size();) {
    const size_t length = sequenceAt(bytes, at, &consumed);
    if (length > 0) {
      text.append(bytes, at, length);
      at += length;
    } else {
      text += "\xEF\xBF\xBD";
      at += consumed;
    }
  }
  return text;
}

size_t utf8CutPoint(const std::string& bytes, size_t limit) {
  if (limit >= bytes.size()) return bytes.size();
  const auto continuation = [&](size_t i) { return (static_cast<unsigned char>(bytes[i]) & 0xC0) == 0x80; };
  for (size_t cut = limit; cut + 3 >= limit && cut > 0; --cut)
    if (!continuation(cut)) return cut;
  return limit;
}

std::string encodeBase64(const std::string& bytes) {
  static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  size_t at = 0;
  for (; at + 3 <= bytes.size(); at += 3) {
    const unsigned long group = static_cast<unsigned char>(bytes[at]) << 16 |
                                static_cast<unsigned char>(bytes[at + 1]) << 8 |
                                static_cast<unsigned char>(bytes[at + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += alphabet[(group >> shift) & 63];
  }
  const size_t rest = bytes.size() - at;
  if (rest > 0) {
    unsigned long group = static_cast<unsigned long>(static_cast<unsigned char>(bytes[at])) << 16;
    if (rest == 2) group |= static_cast<unsigned long>(static_cast<unsigned char>(bytes[at + 1])) << 8;
    out += alphabet[(group >> 18) & 63];
    out += alphabet[(group >> 12) & 63];
    out += rest == 2 ? alphabet[(group >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace kor
