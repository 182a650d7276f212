#include <gtest/gtest.h>

#include <string>

#include "base/Wire.h"
#include "kor/OutputBuffer.h"

using namespace kor;

namespace {

struct Read {
  int64_t next;
  bool gap;
  std::string data;
};

Read readAt(const OutputBuffer& buffer, int64_t cursor) {
  std::string reply = flatten(outputReadReply(buffer, cursor));
  return Read{decodeInt64(reply.data()), reply[8] != 0, reply.substr(9)};
}

void append(OutputBuffer& buffer, const std::string& text) { appendOutput(buffer, text.data(), text.size()); }

}  // namespace

TEST(OutputBuffer, ReadsByCursorWithinTheWindow) {
  OutputBuffer buffer = makeOutputBuffer(8);
  EXPECT_TRUE(buffer.chain.blocks.empty());  // nothing allocated before output arrives
  Read empty = readAt(buffer, -1);
  EXPECT_EQ(empty.next, 0);
  EXPECT_FALSE(empty.gap);
  EXPECT_EQ(empty.data, "");

  append(buffer, "abcdef");
  append(buffer, "ghij");  // wraps: keeps "cdefghij"
  EXPECT_EQ(tailCursor(buffer), 2);
  EXPECT_EQ(buffer.head, 10);
  struct Case {
    int64_t cursor;
    int64_t next;
    bool gap;
    const char* data;
  } cases[] = {
      {-1, 10, false, "cdefghij"},  // oldest retained, no gap
      {0, 10, true, "cdefghij"},    // fell out of the window
      {2, 10, false, "cdefghij"},
      {7, 10, false, "hij"},
      {10, 10, false, ""},          // at the head
      {99, 10, false, ""},          // beyond the head: head as next cursor
  };
  for (const Case& c : cases) {
    Read r = readAt(buffer, c.cursor);
    EXPECT_EQ(r.next, c.next) << c.cursor;
    EXPECT_EQ(r.gap, c.gap) << c.cursor;
    EXPECT_EQ(r.data, c.data) << c.cursor;
  }
}

TEST(OutputBuffer, GrowsOnlyAsOutputArrivesAndKeepsTheNewestBytes) {
  OutputBuffer buffer = makeOutputBuffer(3 * kLargestBlock + 5);
  append(buffer, "x");
  EXPECT_LT(buffer.chain.blocks.front()->capacity, kLargestBlock);
  std::string stream = "x";
  for (int i = 0; i < 5000; ++i) {
    std::string piece = std::to_string(i) + ",";
    append(buffer, piece);
    stream += piece;
  }
  EXPECT_EQ(readAt(buffer, 0).data, stream);
  // Across block boundaries, the window keeps exactly the newest limit bytes.
  std::string big;
  for (int i = 0; big.size() < 10 * kLargestBlock; ++i) big += std::to_string(i) + ";";
  for (size_t at = 0; at < big.size(); at += 70000) append(buffer, big.substr(at, 70000));
  stream += big;
  EXPECT_LE(buffer.chain.blocks.size(), 4u);  // memory: the limit plus one block
  EXPECT_EQ(readAt(buffer, -1).data, stream.substr(stream.size() - buffer.limit));
  EXPECT_EQ(readAt(buffer, buffer.head - 3).data, stream.substr(stream.size() - 3));
  // One write larger than the window keeps only its tail.
  OutputBuffer small = makeOutputBuffer(4);
  append(small, "ab");
  append(small, "0123456789");
  EXPECT_EQ(readAt(small, -1).data, "6789");
  EXPECT_EQ(tailCursor(small), 8);
  append(small, "xy");
  EXPECT_EQ(readAt(small, -1).data, "89xy");
}
