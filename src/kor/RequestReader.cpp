#include "kor/RequestReader.h"

#include <algorithm>

#include "kor/Requests.h"

namespace kor {

namespace {

// Why a request with the header just read cannot be served, or "".
std::string admissionError(const RequestReader& reader, const RequestLimits& limits) {
  std::string error = checkRequestHeader(reader.type, reader.length);
  if (error.empty() && (reader.type == kInput || reader.type == kHiddenInput) &&
      limits.queuedInput + reader.length > limits.maxQueuedInput)
    error = "the session's shell is not reading its input (" + std::to_string(limits.queuedInput) +
            " bytes waiting)";
  return error;
}

void headerComplete(RequestReader& reader, const RequestLimits& limits) {
  const FrameHeader frame = decodeFrameHeader(reader.header);
  reader.type = frame.type;
  reader.length = frame.length;
  reader.rejection = admissionError(reader, limits);
  if (!reader.rejection.empty()) {
    reader.state = ReadState::Rejected;
    reader.discard = reader.length;
    return;
  }
  if (reader.length == 0) {
    reader.state = ReadState::Complete;
    return;
  }
  // A secret is read into its final place, so no reallocation leaves copies behind.
  if (reader.type == kHiddenInput && reader.length <= 1024 * 1024) reader.payload.reserve(reader.length);
}

}  // namespace

ReadState feedRequest(RequestReader& reader, const char* data, size_t length, const RequestLimits& limits) {
  while (length > 0 && reader.state == ReadState::NeedMore) {
    if (reader.headerGot < kFrameHeaderSize) {
      size_t take = std::min(length, kFrameHeaderSize - reader.headerGot);
      std::copy(data, data + take, reader.header + reader.headerGot);
      reader.headerGot += take;
      data += take;
      length -= take;
      if (reader.headerGot == kFrameHeaderSize) headerComplete(reader, limits);
      continue;
    }
    size_t take = std::min<size_t>(length, reader.length - reader.payload.size());
    reader.payload.append(data, take);
    data += take;
    length -= take;
    if (reader.payload.size() == reader.length) reader.state = ReadState::Complete;
  }
  if (reader.state == ReadState::Rejected) reader.discard -= std::min<uint64_t>(reader.discard, length);
  return reader.state;
}

uint64_t bytesWanted(const RequestReader& reader) {
  switch (reader.state) {
    case ReadState::NeedMore:
      if (reader.headerGot < kFrameHeaderSize) return kFrameHeaderSize - reader.headerGot;
      return reader.length - reader.payload.size();
    case ReadState::Rejected:
      return reader.discard;
    case ReadState::Complete:
      break;
  }
  return 0;
}

}  // namespace kor
