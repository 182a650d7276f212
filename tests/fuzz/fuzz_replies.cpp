// Replies as korctl reads them: the frame off the socket, output-read and exchange-read
// payloads, and the record text sniff prints.
#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>

#include "FuzzSupport.h"
#include "base/ControlClient.h"
#include "base/Wire.h"
#include "ctl/OutputRead.h"

using namespace kor;

namespace {

// The bytes arrive through a pipe, as from a daemon that then closes.
void checkReplyFrame(const std::string& input) {
  if (input.size() > 60000) return;  // stays within one pipe buffer
  int ends[2];
  FUZZ_CHECK(pipe(ends) == 0);
  FUZZ_CHECK(write(ends[1], input.data(), input.size()) == static_cast<ssize_t>(input.size()));
  close(ends[1]);
  uint8_t type = 0;
  std::string payload;
  bool whole = false;
  try {
    whole = readControlReply(ends[0], type, payload);
    FUZZ_CHECK(whole == (input.size() >= kFrameHeaderSize));
    if (!whole) {
      close(ends[0]);
      return;
    }
    const FrameHeader header = decodeFrameHeader(input.data());
    FUZZ_CHECK(type == header.type && payload == input.substr(kFrameHeaderSize, header.length));
    FUZZ_CHECK(input.size() >= kFrameHeaderSize + header.length);
  } catch (const std::runtime_error&) {
    // a payload cut short or claiming too much: only for a whole header
    FUZZ_CHECK(input.size() >= kFrameHeaderSize);
    const FrameHeader header = decodeFrameHeader(input.data());
    FUZZ_CHECK(header.length > kMaxReplyLength || input.size() < kFrameHeaderSize + header.length);
  }
  close(ends[0]);
}

void checkCursorReplies(const std::string& input) {
  const OutputChunk chunk = parseOutputReply(input);
  CursorReplyHeader header;
  if (decodeCursorReplyHeader(input, header)) {
    FUZZ_CHECK(chunk.nextCursor == header.nextCursor && chunk.gap == header.gap);
    if (input[8] == 0 || input[8] == 1)
      FUZZ_CHECK(encodeCursorReplyHeader(header.nextCursor, header.gap) == input.substr(0, kCursorReplyHeaderSize));
    FUZZ_CHECK(chunk.data == input.substr(kCursorReplyHeaderSize));
  } else {
    FUZZ_CHECK(input.size() < kCursorReplyHeaderSize && chunk.data.empty() && chunk.nextCursor == 0 && !chunk.gap);
  }

  // Exchange records: written back, they give the bytes they came from.
  const ExchangeReply reply = parseExchange(input);
  if (input.size() < kCursorReplyHeaderSize) {
    FUZZ_CHECK(reply.records.empty() && reply.nextCursor == 0 && !reply.gap);
    return;
  }
  FUZZ_CHECK(reply.nextCursor == header.nextCursor && reply.gap == header.gap);
  std::string again = input.substr(0, kCursorReplyHeaderSize);
  for (const ExchangeRecord& record : reply.records) appendExchangeRecord(again, record);
  FUZZ_CHECK(input.compare(0, again.size(), again) == 0);
  // What is left over cannot be a whole record.
  const std::string rest = input.substr(again.size());
  FUZZ_CHECK(rest.size() < kExchangeRecordHeaderSize ||
             decodeUint32(rest.data() + 1) > rest.size() - kExchangeRecordHeaderSize);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = fuzz::bytes(data, size);
  checkReplyFrame(input);
  checkCursorReplies(input);
  return 0;
}
