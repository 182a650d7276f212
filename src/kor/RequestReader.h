#pragma once
// Reads one request frame from the bytes a client sends, in whatever pieces they arrive:
// bytes in; a complete request, "need more", or a rejection out. Pure, no I/O, so it is
// tested with tables of byte streams and fuzzed directly.
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/Wire.h"

namespace kor {

// Input waiting for a shell that does not read is bounded; beyond this requests are refused.
constexpr size_t kMaxQueuedInput = 256u * 1024 * 1024;

// What the daemon can take at the moment a request's header arrives.
struct RequestLimits {
  size_t queuedInput = 0;  // input bytes still waiting for the terminal
  size_t maxQueuedInput = kMaxQueuedInput;
};

enum class ReadState {
  NeedMore,  // the frame is not complete yet
  Complete,  // type and payload are in; bytes after the frame are ignored
  Rejected,  // refused from its header: rejection holds the error text; the payload is skipped
};

struct RequestReader {
  ReadState state = ReadState::NeedMore;
  char header[kFrameHeaderSize] = {};
  size_t headerGot = 0;
  uint8_t type = 0;        // known once the header is in
  uint32_t length = 0;     // payload length the header announced
  std::string payload;     // grows to length
  uint64_t discard = 0;    // payload bytes of a rejected request not yet seen
  std::string rejection;
};

// Takes the next bytes a client sent and returns the state they leave. Reads only the
// frame: bytes after a complete request, and the payload of a rejected one, are consumed
// and dropped.
ReadState feedRequest(RequestReader& reader, const char* data, size_t length, const RequestLimits& limits);

// How many more bytes the frame needs: the rest of the header, then the rest of the payload
// (or, once rejected, of the payload being skipped). 0 when nothing more belongs to it.
uint64_t bytesWanted(const RequestReader& reader);

}  // namespace kor
