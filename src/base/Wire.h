#pragma once
// The bytes of the control protocol, for both sides: request codes, frame headers, integers,
// the header of cursor replies, exchange records and the screen. Pure, no I/O.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kor {

// Request types; any reply type but kErrorReply is success.
enum RequestType : uint8_t {
  kInput = 1,
  kResize = 2,
  kReadOutput = 3,
  kStatus = 4,
  kKill = 5,
  kSniff = 6,
  kHiddenInput = 7,
  kScreen = 8,
  kWaitRead = 9,
};
constexpr uint8_t kErrorReply = 0x41;
// Replies claiming more than this are refused before anything is allocated.
constexpr uint32_t kMaxReplyLength = 256u * 1024 * 1024;

// A frame, the same in both directions: type byte, payload length (4 bytes, big-endian), payload.
constexpr size_t kFrameHeaderSize = 5;
struct FrameHeader {
  uint8_t type = 0;
  uint32_t length = 0;
};
std::string encodeFrameHeader(uint8_t type, uint32_t length);
FrameHeader decodeFrameHeader(const char* bytes);  // kFrameHeaderSize bytes

std::string encodeInt64(int64_t value);  // big-endian two's complement
int64_t decodeInt64(const char* bytes);
uint32_t decodeUint32(const char* bytes);  // big-endian

// Output reads and exchange reads answer with the next cursor (8 bytes), a gap flag (1 byte,
// non-zero when the cursor had fallen out of what is retained) and then their bytes.
constexpr size_t kCursorReplyHeaderSize = 9;
struct CursorReplyHeader {
  int64_t nextCursor = 0;
  bool gap = false;
};
std::string encodeCursorReplyHeader(int64_t nextCursor, bool gap);
// False for a payload shorter than the header, which reads as next cursor 0 and gap clear.
bool decodeCursorReplyHeader(const std::string& payload, CursorReplyHeader& header);

// A waiting read (kWaitRead): the read it stands for (kReadOutput or kSniff), its cursor, and
// the longest wait in milliseconds. The daemon answers it exactly as that read as soon as the
// reply would carry bytes (records) or a gap, or once the wait is over, or when the session
// ends. A daemon that serves it says so with the status field waitRead=1, and answers every
// output and exchange read with the reply type kWaitRead, so a command learns it from the
// first reply it gets either way, without asking anything a daemon of its own would not.
constexpr size_t kWaitReadSize = 13;
constexpr const char* kWaitReadField = "waitRead";
struct WaitRead {
  uint8_t readType = kReadOutput;
  int64_t cursor = 0;
  uint32_t waitMs = 0;
};
std::string encodeWaitRead(const WaitRead& request);
WaitRead decodeWaitRead(const char* bytes);  // kWaitReadSize bytes

// The exchange record: one entry per transfer between the daemon and the terminal.
constexpr char kSentMark = '>';      // input written to the terminal; any other byte: output read
constexpr char kReceivedMark = '<';
struct ExchangeRecord {
  char direction = 0;
  std::string data;
};
// A record on the wire: direction byte, data length (4 bytes, big-endian), data.
constexpr size_t kExchangeRecordHeaderSize = 5;
void encodeExchangeRecordHeader(char* out, char direction, uint32_t length);  // 5 bytes
void appendExchangeRecord(std::string& out, const ExchangeRecord& record);

// A parsed exchange-read reply: the records in order, where to continue, and the gap flag.
struct ExchangeReply {
  std::vector<ExchangeRecord> records;
  long long nextCursor = 0;
  bool gap = false;
};
// A payload shorter than 9 bytes gives no records, next cursor 0 and gap clear. Records are
// read while a whole one fits; the first that does not fit and everything after it are ignored.
ExchangeReply parseExchange(const std::string& payload);

// The screen request: one byte of flags.
constexpr uint8_t kScreenAttributes = 0x01;  // rows carry colours and attributes as SGR sequences

// What a session's terminal shows.
struct ScreenImage {
  int64_t head = 0;  // the output cursor: the screen shows everything before it
  int rows = 0;
  int cols = 0;
  int cursorRow = 0;  // from 0
  int cursorCol = 0;
  bool cursorVisible = true;
  bool alternate = false;          // a full-screen program's alternate screen is up
  std::vector<std::string> lines;  // one per row: UTF-8, trailing blanks trimmed
};

// The screen reply: head (8 bytes, signed), rows, cols, cursor row, cursor column (2 bytes
// each), a flags byte (0x01 alternate screen, 0x02 cursor visible), then per row a 4-byte
// length and the row's bytes; all big-endian. Bytes after the last row are ignored.
std::string encodeScreenReply(const ScreenImage& image);
// False for a payload too short for what its header announces.
bool decodeScreenReply(const std::string& payload, ScreenImage& image);

}  // namespace kor
