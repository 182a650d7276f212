#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kor/RequestReader.h"

using namespace kor;

namespace {

std::string frame(uint8_t type, uint32_t length, const std::string& payload = "") {
  std::string out(1, static_cast<char>(type));
  for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((length >> shift) & 0xff);
  return out + payload;
}

struct Outcome {
  ReadState state;
  uint8_t type;
  std::string payload;
  std::string rejection;
  uint64_t wanted;
};

// Feeds the stream in pieces of at most `piece` bytes (0: all at once).
Outcome feed(const std::string& stream, size_t piece, const RequestLimits& limits = {}) {
  RequestReader reader;
  size_t step = piece == 0 ? stream.size() : piece;
  for (size_t at = 0; at < stream.size(); at += step)
    feedRequest(reader, stream.data() + at, std::min(step, stream.size() - at), limits);
  return Outcome{reader.state, reader.type, reader.payload, reader.rejection, bytesWanted(reader)};
}

}  // namespace

TEST(RequestReader, FramesInAnyPieces) {
  const uint32_t inputLimit = 64u << 20;
  const RequestLimits nearlyFull{kMaxQueuedInput - 10, kMaxQueuedInput};
  const struct Case {
    const char* what;
    std::string stream;
    RequestLimits limits;
    ReadState state;
    std::string payload;
    std::string rejection;
    uint64_t wanted;
  } cases[] = {
      {"status", frame(4, 0), {}, ReadState::Complete, "", "", 0},
      {"read", frame(3, 8, std::string(8, '\xff')), {}, ReadState::Complete, std::string(8, '\xff'), "", 0},
      {"empty input", frame(1, 0), {}, ReadState::Complete, "", "", 0},
      {"input with zero bytes", frame(7, 3, std::string("a\0b", 3)), {}, ReadState::Complete, std::string("a\0b", 3), "", 0},
      {"bytes past the frame are ignored", frame(1, 2, "ab") + frame(4, 0) + "junk", {}, ReadState::Complete, "ab", "", 0},
      {"half a header", std::string("\x01\0\0", 3), {}, ReadState::NeedMore, "", "", 2},
      {"half a payload", frame(1, 100, "abc"), {}, ReadState::NeedMore, "abc", "", 97},
      {"unknown type", frame(99, 0), {}, ReadState::Rejected, "", "unknown request type 99", 0},
      {"short read cursor, payload skipped", frame(3, 7, std::string(7, 'x')), {}, ReadState::Rejected, "",
       "read request needs 8 payload bytes, got 7", 0},
      {"oversized input refused from its header", frame(1, inputLimit + 1, "abc"), {}, ReadState::Rejected, "",
       "input of 67108865 bytes exceeds the limit of 67108864 bytes", inputLimit + 1 - 3},
      {"input that fits what is waiting exactly", frame(1, 10, std::string(10, 'i')), nearlyFull,
       ReadState::Complete, std::string(10, 'i'), "", 0},
      {"input beyond what may wait", frame(7, 11, "secret"), nearlyFull, ReadState::Rejected, "",
       "the session's shell is not reading its input (268435446 bytes waiting)", 5},
      {"only input counts against waiting input", frame(3, 8, std::string(8, '\0')), {kMaxQueuedInput, kMaxQueuedInput},
       ReadState::Complete, std::string(8, '\0'), "", 0},
  };
  for (const Case& c : cases) {
    for (size_t piece : {0, 1, 2, 5, 6}) {
      Outcome got = feed(c.stream, piece, c.limits);
      EXPECT_EQ(got.state, c.state) << c.what << " / pieces of " << piece;
      const uint8_t type = c.stream.size() < kFrameHeaderSize ? 0 : static_cast<uint8_t>(c.stream[0]);
      EXPECT_EQ(got.type, type) << c.what << " / pieces of " << piece;
      EXPECT_EQ(got.payload, c.payload) << c.what << " / pieces of " << piece;
      EXPECT_EQ(got.rejection, c.rejection) << c.what << " / pieces of " << piece;
      EXPECT_EQ(got.wanted, c.wanted) << c.what << " / pieces of " << piece;
    }
  }
}

// The client reads exactly what the reader wants, so it never reads into the next frame and
// learns when a skipped payload is over.
TEST(RequestReader, WantsExactlyTheRestOfTheFrame) {
  RequestReader reader;
  const std::string stream = frame(6, 8, "12345678");
  std::vector<uint64_t> wanted{bytesWanted(reader)};
  for (char byte : stream) {
    feedRequest(reader, &byte, 1, {});
    wanted.push_back(bytesWanted(reader));
  }
  EXPECT_EQ(wanted, (std::vector<uint64_t>{5, 4, 3, 2, 1, 8, 7, 6, 5, 4, 3, 2, 1, 0}));
  EXPECT_EQ(reader.state, ReadState::Complete);

  RequestReader rejected;
  const std::string oversized = frame(2, 5000);
  feedRequest(rejected, oversized.data(), oversized.size(), {});
  ASSERT_EQ(rejected.state, ReadState::Rejected);
  EXPECT_EQ(rejected.rejection, "resize request of 5000 bytes is too large");
  const std::string rest(6000, 'r');  // more than the payload: the excess is dropped too
  feedRequest(rejected, rest.data(), 4999, {});
  EXPECT_EQ(bytesWanted(rejected), 1u);
  feedRequest(rejected, rest.data(), rest.size(), {});
  EXPECT_EQ(bytesWanted(rejected), 0u);
  EXPECT_TRUE(rejected.payload.empty());
}
