#include "kor/OutputBuffer.h"

#include <algorithm>
#include <cstring>

#include "base/ControlClient.h"

namespace kor {

namespace {

constexpr size_t kInitialCapacity = 64 * 1024;

// Copies count bytes of the ring, starting offset bytes after the oldest, to out.
void copyOut(const OutputBuffer& buffer, size_t offset, size_t count, char* out) {
  size_t capacity = buffer.ring.size();
  size_t from = (buffer.start + offset) % capacity;
  size_t first = std::min(count, capacity - from);
  std::memcpy(out, buffer.ring.data() + from, first);
  std::memcpy(out + first, buffer.ring.data(), count - first);
}

// Grows the ring (never past the limit) so that needed bytes fit, keeping the retained bytes.
void grow(OutputBuffer& buffer, size_t needed) {
  size_t capacity = buffer.ring.size();
  if (needed <= capacity || capacity >= buffer.limit) return;
  size_t wanted = std::max({needed, capacity * 2, kInitialCapacity});
  wanted = std::min(wanted, buffer.limit);
  std::vector<char> bigger(wanted);
  if (buffer.size > 0) copyOut(buffer, 0, buffer.size, bigger.data());
  buffer.ring.swap(bigger);
  buffer.start = 0;
}

}  // namespace

OutputBuffer makeOutputBuffer(size_t limit) {
  OutputBuffer buffer;
  buffer.limit = std::max<size_t>(limit, 1);
  return buffer;
}

void appendOutput(OutputBuffer& buffer, const char* data, size_t length) {
  buffer.head += static_cast<int64_t>(length);
  if (length >= buffer.limit) {  // only the newest limit bytes survive
    data += length - buffer.limit;
    length = buffer.limit;
    grow(buffer, buffer.limit);
    buffer.start = 0;
    buffer.size = 0;
  } else {
    grow(buffer, buffer.size + length);
  }
  size_t capacity = buffer.ring.size();
  if (buffer.size + length > capacity) {  // full: drop the oldest
    size_t drop = buffer.size + length - capacity;
    buffer.start = (buffer.start + drop) % capacity;
    buffer.size -= drop;
  }
  size_t at = (buffer.start + buffer.size) % capacity;
  size_t first = std::min(length, capacity - at);
  std::memcpy(buffer.ring.data() + at, data, first);
  std::memcpy(buffer.ring.data(), data + first, length - first);
  buffer.size += length;
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
  size_t count = cursor >= buffer.head ? 0 : static_cast<size_t>(buffer.head - cursor);
  std::string reply = encodeInt64(buffer.head);  // a reply always reaches the head
  reply.push_back(gap ? 1 : 0);
  if (count > 0) {
    size_t offset = static_cast<size_t>(cursor - tail);
    reply.resize(9 + count);
    copyOut(buffer, offset, count, &reply[9]);
  }
  return reply;
}

}  // namespace kor
