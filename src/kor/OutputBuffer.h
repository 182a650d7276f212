#pragma once
#include <cstddef>
#include <cstdint>

#include "kor/ByteChain.h"

namespace kor {

// The session's output: every byte numbered from 0, the newest `limit` bytes kept in blocks
// that are allocated as output arrives and released as they age out, so memory never holds
// more than the limit plus one block (and whatever blocks unsent replies still hold).
struct OutputBuffer {
  size_t limit = 0;
  ByteChain chain;
  int64_t head = 0;  // cursor of the next byte
};

OutputBuffer makeOutputBuffer(size_t limit);
void appendOutput(OutputBuffer& buffer, const char* data, size_t length);
// Output read straight into the chain: room for up to `want` bytes, then what was written.
AppendRoom outputRoom(OutputBuffer& buffer, size_t want);
void commitOutput(OutputBuffer& buffer, size_t length);
// Cursor of the oldest retained byte.
int64_t tailCursor(const OutputBuffer& buffer);

// Where a read at `cursor` starts: -1 and cursors older than the window start at the oldest
// byte (gap set for the latter); a cursor at or past the head gets no bytes.
struct ReadStart {
  int64_t cursor = 0;
  bool gap = false;
};
ReadStart readStart(const OutputBuffer& buffer, int64_t cursor);
// Whether a read at cursor would get bytes or a gap now.
bool outputReady(const OutputBuffer& buffer, int64_t cursor);
// Payload of a read reply: next cursor (always the head), gap flag, everything retained past
// the cursor, as pieces of the retained blocks.
ReplyBytes outputReadReply(const OutputBuffer& buffer, int64_t cursor);

}  // namespace kor
