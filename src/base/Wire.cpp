#include "base/Wire.h"

namespace kor {

namespace {

void putBigEndian(char* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[i] = static_cast<char>((value >> (8 * (bytes - 1 - i))) & 0xFF);
}

uint64_t getBigEndian(const char* in, int bytes) {
  uint64_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | static_cast<unsigned char>(in[i]);
  return value;
}

void appendBigEndian(std::string& out, uint64_t value, int bytes) {
  char buffer[8];
  putBigEndian(buffer, value, bytes);
  out.append(buffer, static_cast<size_t>(bytes));
}

constexpr size_t kScreenHeaderSize = 17;

}  // namespace

std::string encodeFrameHeader(uint8_t type, uint32_t length) {
  std::string header(kFrameHeaderSize, '\0');
  header[0] = static_cast<char>(type);
  putBigEndian(&header[1], length, 4);
  return header;
}

FrameHeader decodeFrameHeader(const char* bytes) {
  return FrameHeader{static_cast<uint8_t>(bytes[0]), decodeUint32(bytes + 1)};
}

std::string encodeInt64(int64_t value) {
  std::string bytes(8, '\0');
  putBigEndian(&bytes[0], static_cast<uint64_t>(value), 8);
  return bytes;
}

int64_t decodeInt64(const char* bytes) { return static_cast<int64_t>(getBigEndian(bytes, 8)); }

uint32_t decodeUint32(const char* bytes) { return static_cast<uint32_t>(getBigEndian(bytes, 4)); }

std::string encodeCursorReplyHeader(int64_t nextCursor, bool gap) {
  std::string header = encodeInt64(nextCursor);
  header.push_back(gap ? 1 : 0);
  return header;
}

bool decodeCursorReplyHeader(const std::string& payload, CursorReplyHeader& header) {
  header = CursorReplyHeader{};
  if (payload.size() < kCursorReplyHeaderSize) return false;
  header.nextCursor = decodeInt64(payload.data());
  header.gap = payload[8] != 0;
  return true;
}

std::string encodeWaitRead(const WaitRead& request) {
  std::string bytes(1, static_cast<char>(request.readType));
  bytes += encodeInt64(request.cursor);
  char wait[4];
  putBigEndian(wait, request.waitMs, 4);
  bytes.append(wait, sizeof wait);
  return bytes;
}

WaitRead decodeWaitRead(const char* bytes) {
  return WaitRead{static_cast<uint8_t>(bytes[0]), decodeInt64(bytes + 1), decodeUint32(bytes + 9)};
}

void encodeExchangeRecordHeader(char* out, char direction, uint32_t length) {
  out[0] = direction;
  putBigEndian(out + 1, length, 4);
}

void appendExchangeRecord(std::string& out, const ExchangeRecord& record) {
  char header[kExchangeRecordHeaderSize];
  encodeExchangeRecordHeader(header, record.direction, static_cast<uint32_t>(record.data.size()));
  out.append(header, sizeof header);
  out += record.data;
}

ExchangeReply parseExchange(const std::string& payload) {
  ExchangeReply reply;
  CursorReplyHeader header;
  if (!decodeCursorReplyHeader(payload, header)) return reply;
  reply.nextCursor = header.nextCursor;
  reply.gap = header.gap;
  size_t at = kCursorReplyHeaderSize;
  while (payload.size() - at >= kExchangeRecordHeaderSize) {
    const size_t length = decodeUint32(payload.data() + at + 1);
    if (length > payload.size() - at - kExchangeRecordHeaderSize) break;
    reply.records.push_back({payload[at], payload.substr(at + kExchangeRecordHeaderSize, length)});
    at += kExchangeRecordHeaderSize + length;
  }
  return reply;
}

// ---- the screen ----

std::string encodeScreenReply(const ScreenImage& image) {
  std::string out = encodeInt64(image.head);
  for (int value : {image.rows, image.cols, image.cursorRow, image.cursorCol})
    appendBigEndian(out, static_cast<uint64_t>(value), 2);
  out += static_cast<char>((image.alternate ? 0x01 : 0) | (image.cursorVisible ? 0x02 : 0));
  for (const std::string& line : image.lines) {
    appendBigEndian(out, line.size(), 4);
    out += line;
  }
  return out;
}

bool decodeScreenReply(const std::string& payload, ScreenImage& image) {
  if (payload.size() < kScreenHeaderSize) return false;
  ScreenImage decoded;
  decoded.head = decodeInt64(payload.data());
  int* fields[] = {&decoded.rows, &decoded.cols, &decoded.cursorRow, &decoded.cursorCol};
  for (int i = 0; i < 4; ++i) *fields[i] = static_cast<int>(getBigEndian(payload.data() + 8 + 2 * i, 2));
  decoded.alternate = (payload[16] & 0x01) != 0;
  decoded.cursorVisible = (payload[16] & 0x02) != 0;
  size_t at = kScreenHeaderSize;
  for (int row = 0; row < decoded.rows; ++row) {
    if (payload.size() - at < 4) return false;
    uint32_t length = decodeUint32(payload.data() + at);
    at += 4;
    if (payload.size() - at < length) return false;
    decoded.lines.push_back(payload.substr(at, length));
    at += length;
  }
  image = std::move(decoded);
  return true;
}

}  // namespace kor
