#include "kor/OutputBuffer.h"

#include <algorithm>

#include "base/Wire.h"

namespace kor {

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
  while (length > 0) {
    if (buffer.blocks.empty() || buffer.blocks.back().size() == kOutputBlock) {
      buffer.blocks.emplace_back();
      // Small sessions stay small: a block is allocated at its full size only once output
      // has filled a first one.
      buffer.blocks.back().reserve(buffer.blocks.size() == 1 ? std::min(length, kOutputBlock) : kOutputBlock);
    }
    std::string& last = buffer.blocks.back();
    size_t take = std::min(length, kOutputBlock - last.size());
    last.append(data, take);
    data += take;
    length -= take;
    buffer.size += take;
  }
  // Drop the oldest bytes beyond the limit, releasing blocks that age out entirely.
  while (buffer.size > buffer.limit) {
    size_t excess = buffer.size - buffer.limit;
    size_t inFront = buffer.blocks.front().size() - buffer.skip;
    if (excess >= inFront) {
      buffer.blocks.pop_front();
      buffer.skip = 0;
      buffer.size -= inFront;
    } else {
      buffer.skip += excess;
      buffer.size -= excess;
    }
  }
}

int64_t tailCursor(const OutputBuffer& buffer) {
  return buffer.head - static_cast<int64_t>(buffer.size);
}

std::string outputReadReply(const OutputBuffer& buffer, int64_t cursor) {
  int64_t tail = tailCursor(buffer);
  bool gap = false;
  if (cursor < 0) {
    cursor = tail;
  } else if (cursor < tail) {
    cursor = tail;
    gap = true;
  }
  std::string reply = encodeCursorReplyHeader(buffer.head, gap);  // a reply always reaches the head
  if (cursor >= buffer.head) return reply;
  reply.reserve(kCursorReplyHeaderSize + static_cast<size_t>(buffer.head - cursor));
  size_t offset = static_cast<size_t>(cursor - tail) + buffer.skip;  // from the front block's start
  for (const std::string& block : buffer.blocks) {
    if (offset >= block.size()) {
      offset -= block.size();
      continue;
    }
    reply.append(block, offset, std::string::npos);
    offset = 0;
  }
  return reply;
}

}  // namespace kor
