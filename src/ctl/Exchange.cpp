#include "ctl/Exchange.h"

#include "base/ControlClient.h"

namespace kor {

namespace {
constexpr size_t kReplyHeader = 9;   // next cursor (8) + gap flag (1)
constexpr size_t kRecordHeader = 5;  // direction (1) + length (4)
}  // namespace

ExchangeReply parseExchange(const std::string& payload) {
  ExchangeReply reply;
  if (payload.size() < kReplyHeader) return reply;
  reply.nextCursor = decodeInt64(payload.data());
  reply.gap = payload[8] != 0;
  size_t at = kReplyHeader;
  while (payload.size() - at >= kRecordHeader) {
    const size_t length = decodeUint32(payload.data() + at + 1);
    if (length > payload.size() - at - kRecordHeader) break;
    reply.records.push_back({payload[at], payload.substr(at + kRecordHeader, length)});
    at += kRecordHeader + length;
  }
  return reply;
}

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
  std::string line = record.direction == '>' ? "\xc2\xbb " : "\xc2\xab ";
  line += escapeBytes(record.data);
  line += '\n';
  return line;
}

}  // namespace kor
