#pragma once
// Bytes kept in a chain of blocks that never move once written: the daemon's output window and
// its exchange record. A reply refers to the blocks it sends from (shared ownership) instead of
// copying them, so a block that ages out while a slow client still reads it lives until that
// reply is out.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace kor {

struct Block {
  explicit Block(size_t capacity) : bytes(new char[capacity]), capacity(capacity) {}
  std::unique_ptr<char[]> bytes;
  size_t capacity;
  size_t size = 0;  // bytes written; only the last blocks of a chain grow
};
using BlockRef = std::shared_ptr<Block>;

// A run of bytes inside a block, holding the block alive.
struct BytePiece {
  BlockRef block;
  const char* data = nullptr;
  size_t length = 0;
};

// A small chain starts with a small block; blocks double up to the largest size.
constexpr size_t kFirstBlock = 4096;
constexpr size_t kLargestBlock = 1024 * 1024;

struct ByteChain {
  std::deque<BlockRef> blocks;
  size_t skip = 0;  // bytes at the start of blocks.front() already dropped
  size_t size = 0;  // bytes held
};

// Free room at the end of a chain, in at most two runs: the rest of the last block and, when
// that is shorter than asked for, a fresh block behind it.
struct AppendRoom {
  char* data[2] = {nullptr, nullptr};
  size_t length[2] = {0, 0};
  int count = 0;
};
// Room for up to `want` bytes (at least one); write into it, then commitAppend what was written.
AppendRoom appendRoom(ByteChain& chain, size_t want);
void commitAppend(ByteChain& chain, size_t length);
void appendBytes(ByteChain& chain, const char* data, size_t length);
// Drops the oldest bytes, releasing blocks no longer needed (a reply may still hold them).
void dropFront(ByteChain& chain, size_t length);
// Appends the pieces that hold the bytes from `offset` (0 = the oldest byte held) to the end.
void appendPieces(const ByteChain& chain, size_t offset, std::vector<BytePiece>& pieces);

// A reply as it goes out: bytes of its own (the frame header, a cursor-reply header, a small
// payload), then pieces of retained blocks.
struct ReplyBytes {
  std::string head;
  std::vector<BytePiece> pieces;
};
size_t replySize(const ReplyBytes& reply);
// The whole reply as one string (tests and small replies).
std::string flatten(const ReplyBytes& reply);

}  // namespace kor
