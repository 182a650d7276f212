#include "kor/OutputBuffer.h"

#include <algorithm>

#include "base/Wire.h"

namespace kor {

namespace {

// Drops the oldest bytes beyond the limit.
void trimToLimit(OutputBuffer& buffer) {
  if (buffer.chain.size > buffer.limit) dropFront(buffer.chain, buffer.chain.size - buffer.limit);
}

}  // namespace

OutputBuffer makeOutputBuffer(size_t limit) {
  OutputBuffer buffer;
  buffer.limit = std::max<size_t>(limit, 1);
  return buffer;
}

void appendOutput(OutputBuffer& buffer, const char* data, size_t length) {
  buffer.head += static_cast<int64_t>(length);
  if (length > buffer.limit) {  // only the newest limit bytes can survive
    data += length - buffer.limit;
    length = buffer.limit;
  }
  appendBytes(buffer.chain, data, length);
  trimToLimit(buffer);
}

AppendRoom outputRoom(OutputBuffer& buffer, size_t want) { return appendRoom(buffer.chain, want); }

void commitOutput(OutputBuffer& buffer, size_t length) {
  buffer.head += static_cast<int64_t>(length);
  commitAppend(buffer.chain, length);
  trimToLimit(buffer);
}

int64_t tailCursor(const OutputBuffer& buffer) {
  return buffer.head - static_cast<int64_t>(buffer.chain.size);
}

ReadStart readStart(const OutputBuffer& buffer, int64_t cursor) {
  const int64_t tail = tailCursor(buffer);
  if (cursor < 0) return ReadStart{tail, false};
  if (cursor < tail) return ReadStart{tail, true};
  return ReadStart{cursor, false};
}

bool outputReady(const OutputBuffer& buffer, int64_t cursor) {
  ReadStart start = readStart(buffer, cursor);
  return start.gap || start.cursor < buffer.head;
}

ReplyBytes outputReadReply(const OutputBuffer& buffer, int64_t cursor) {
  const ReadStart start = readStart(buffer, cursor);
  ReplyBytes reply;
  reply.head = encodeCursorReplyHeader(buffer.head, start.gap);  // a reply always reaches the head
  if (start.cursor < buffer.head)
    appendPieces(buffer.chain, static_cast<size_t>(start.cursor - tailCursor(buffer)), reply.pieces);
  return reply;
}

}  // namespace kor
