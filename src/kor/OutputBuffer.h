#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kor {

// The session's output: every byte numbered from 0, the newest `limit` bytes kept in a ring
// that grows only as output arrives.
struct OutputBuffer {
  size_t limit = 0;
  std::vector<char> ring;  // capacity is ring.size(), at most limit
  size_t start = 0;        // index in ring of the oldest retained byte
  size_t size = 0;         // bytes retained
  int64_t head = 0;        // cursor of the next byte
};

OutputBuffer makeOutputBuffer(size_t limit);
void appendOutput(OutputBuffer& buffer, const char* data, size_t length);
// Cursor of the oldest retained byte.
int64_t tailCursor(const OutputBuffer& buffer);
// Payload of a read reply: next cursor, gap flag, everything retained past the cursor.
// -1 and cursors older than the window start at the oldest byte (gap set for the latter);
// a cursor at or past the head gets no bytes and the head.
std::string outputReadReply(const OutputBuffer& buffer, int64_t cursor);

}  // namespace kor
