// The daemon's request reader, fed the same bytes in pieces and all at once, then the
// per-type payload rules a complete request goes through.
#include "FuzzSupport.h"
#include "base/Wire.h"
#include "kor/RequestReader.h"
#include "kor/Requests.h"

using namespace kor;

namespace {

void feedInPieces(RequestReader& reader, const std::string& stream, size_t piece, const RequestLimits& limits) {
  ReadState last = ReadState::NeedMore;
  for (size_t at = 0; at < stream.size(); at += piece) {
    const size_t count = std::min(piece, stream.size() - at);
    const size_t heldBefore = reader.headerGot + reader.payload.size();
    const ReadState state = feedRequest(reader, stream.data() + at, count, limits);
    FUZZ_CHECK(last == ReadState::NeedMore || state == last);  // a decision is final
    FUZZ_CHECK(reader.payload.size() <= reader.length);
    // An unfinished frame keeps every byte it was given.
    if (state == ReadState::NeedMore) FUZZ_CHECK(reader.headerGot + reader.payload.size() == heldBefore + count);
    last = state;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t piece = data[0] % 17 + 1;
  RequestLimits limits;
  if (data[1] & 0x80) limits.queuedInput = kMaxQueuedInput - (data[1] & 0x7f) * 4096u;
  const std::string stream = fuzz::bytes(data + 2, size - 2);

  RequestReader whole, pieces;
  feedRequest(whole, stream.data(), stream.size(), limits);
  feedInPieces(pieces, stream, piece, limits);
  FUZZ_CHECK(whole.state == pieces.state && whole.type == pieces.type && whole.payload == pieces.payload &&
             whole.rejection == pieces.rejection && bytesWanted(whole) == bytesWanted(pieces));

  switch (whole.state) {
    case ReadState::Complete: {
      FUZZ_CHECK(whole.payload.size() == whole.length && bytesWanted(whole) == 0);
      FUZZ_CHECK(checkRequestHeader(whole.type, whole.length).empty());
      if (whole.type == kResize) {
        TermSize sizeNow;
        if (applyResize(whole.payload, sizeNow).empty())
          for (int value : {sizeNow.rows, sizeNow.cols, sizeNow.pixelWidth, sizeNow.pixelHeight})
            FUZZ_CHECK(value >= 0 && value <= 65535);
      }
      if (whole.type == kReadOutput || whole.type == kSniff) FUZZ_CHECK(whole.payload.size() == 8);
      if (whole.type == kWaitRead) {
        FUZZ_CHECK(whole.payload.size() == kWaitReadSize);
        const WaitRead read = decodeWaitRead(whole.payload.data());
        FUZZ_CHECK(encodeWaitRead(read) == whole.payload);
      }
      break;
    }
    case ReadState::Rejected:
      FUZZ_CHECK(!whole.rejection.empty() && whole.payload.empty());
      break;
    case ReadState::NeedMore:
      FUZZ_CHECK(bytesWanted(whole) > 0);
      break;
  }
  return 0;
}
