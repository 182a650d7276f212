#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "kor/ByteChain.h"

using namespace kor;

namespace {

std::string held(const ByteChain& chain, size_t offset = 0) {
  ReplyBytes reply;
  appendPieces(chain, offset, reply.pieces);
  return flatten(reply);
}

}  // namespace

// Random appends (copied, or written into the room and committed in part) and drops, against
// a plain string holding the same bytes.
TEST(ByteChain, HoldsExactlyWhatWasAppendedAndNotDropped) {
  std::mt19937 random(7);
  ByteChain chain;
  std::string model;
  char next = 'a';
  for (int step = 0; step < 3000; ++step) {
    const size_t want = random() % 3 == 0 ? random() % 300000 : random() % 5000;
    if (random() % 2) {
      std::string bytes(want, next);
      appendBytes(chain, bytes.data(), bytes.size());
      model += bytes;
    } else {
      AppendRoom room = appendRoom(chain, want);
      const size_t written = random() % (room.length[0] + (room.count > 1 ? room.length[1] : 0) + 1);
      size_t done = 0;
      for (int i = 0; i < room.count && done < written; ++i) {
        size_t take = std::min(written - done, room.length[i]);
        std::memset(room.data[i], next, take);
        done += take;
      }
      commitAppend(chain, written);
      model.append(written, next);
    }
    next = next == 'z' ? 'a' : next + 1;
    if (random() % 3 == 0) {
      const size_t drop = random() % (model.size() + 1);
      dropFront(chain, drop);
      model.erase(0, drop);
    }
    ASSERT_EQ(chain.size, model.size()) << step;
    if (step % 50 == 0) {
      ASSERT_EQ(held(chain), model) << step;
      const size_t offset = model.empty() ? 0 : random() % model.size();
      ASSERT_EQ(held(chain, offset), model.substr(offset)) << step;
    }
    ASSERT_LE(chain.blocks.size(), model.size() / kLargestBlock + 3) << step;  // dropped blocks go
  }
}

TEST(ByteChain, PiecesOutliveTheirBlocksInTheChain) {
  ByteChain chain;
  std::string first(3 * kLargestBlock + 10, 'x');
  appendBytes(chain, first.data(), first.size());
  ReplyBytes reply;
  reply.head = "head";
  appendPieces(chain, 5, reply.pieces);
  EXPECT_EQ(replySize(reply), 4 + first.size() - 5);
  // The chain moves on: everything the reply refers to ages out, and new bytes take its place.
  std::string later(5 * kLargestBlock, 'y');
  appendBytes(chain, later.data(), later.size());
  dropFront(chain, first.size());
  EXPECT_EQ(held(chain), later);
  EXPECT_EQ(flatten(reply), "head" + first.substr(5));
}
