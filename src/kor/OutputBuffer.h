#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

namespace kor {

// The session's output: every byte numbered from 0, the newest `limit` bytes kept in blocks
// that are allocated as output arrives and released as it ages out, so memory never holds
// more than the limit plus one block.
struct OutputBuffer {
  size_t limit = 0;
  std::deque<std::string> blocks;  // each at most kOutputBlock bytes; only the last one grows
  size_t skip = 0;                 // bytes of blocks.front() already dropped
  size_t size = 0;                 // bytes retained
  int64_t head = 0;                // cursor of the next byte
};

constexpr size_t kOutputBlock = 1024 * 1024;

OutputBuffer makeOutputBuffer(size_t limit);
void appendOutput(OutputBuffer& buffer, const char* data, size_t length);
// Cursor of the oldest retained byte.
int64_t tailCursor(const OutputBuffer& buffer);
// Payload of a read reply: next cursor, gap flag, everything retained past the cursor.
// -1 and cursors older than the window start at the oldest byte (gap set for the latter);
// a cursor at or past the head gets no bytes and the head.
std::string outputReadReply(const OutputBuffer& buffer, int64_t cursor);

}  // namespace kor
