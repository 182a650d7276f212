#include "text/ExchangeText.h"

namespace kor {

std::string escapeBytes(const std::string& data) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(data.size());
  for (unsigned char byte : data) {
    switch (byte) {
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\'': out += "\\'"; break;
      case '\\': out += "\\\\"; break;
      default:
        if (byte >= 0x20 && byte <= 0x7e) {
          out += static_cast<char>(byte);
        } else {
          out += "\\x";
          out += kHex[byte >> 4];
          out += kHex[byte & 0x0f];
        }
    }
  }
  return out;
}

std::string formatExchangeRecord(const ExchangeRecord& record) {
  std::string line = record.direction == kSentMark ? "\xc2\xbb " : "\xc2\xab ";
  line += escapeBytes(record.data);
  line += '\n';
  return line;
}

}  // namespace kor
