#include "kor/ByteChain.h"

#include <algorithm>
#include <cstring>

namespace kor {

namespace {

size_t freeRoom(const Block& block) { return block.capacity - block.size; }

// The next block's size: at least what is wanted, at least twice the last one, within bounds.
size_t nextBlockSize(const ByteChain& chain, size_t want) {
  size_t size = chain.blocks.empty() ? kFirstBlock : chain.blocks.back()->capacity * 2;
  size = std::max(size, std::min(want, kLargestBlock));
  return std::min(std::max(size, kFirstBlock), kLargestBlock);
}

// Index of the first block that still takes bytes: the last one, or the one before an empty
// last block that was added as room but not written yet.
size_t firstOpenBlock(const ByteChain& chain) {
  size_t last = chain.blocks.size() - 1;
  if (last > 0 && chain.blocks[last]->size == 0 && freeRoom(*chain.blocks[last - 1]) > 0) return last - 1;
  return last;
}

}  // namespace

AppendRoom appendRoom(ByteChain& chain, size_t want) {
  want = std::max<size_t>(want, 1);
  if (chain.blocks.empty() || freeRoom(*chain.blocks.back()) == 0)
    chain.blocks.push_back(std::make_shared<Block>(nextBlockSize(chain, want)));
  AppendRoom room;
  for (size_t i = firstOpenBlock(chain); i < chain.blocks.size() && room.count < 2; ++i) {
    Block& block = *chain.blocks[i];
    room.data[room.count] = block.bytes.get() + block.size;
    room.length[room.count] = freeRoom(block);
    ++room.count;
  }
  if (room.count == 1 && room.length[0] < want) {
    chain.blocks.push_back(std::make_shared<Block>(nextBlockSize(chain, want - room.length[0])));
    room.data[1] = chain.blocks.back()->bytes.get();
    room.length[1] = chain.blocks.back()->capacity;
    room.count = 2;
  }
  return room;
}

void commitAppend(ByteChain& chain, size_t length) {
  chain.size += length;
  for (size_t i = firstOpenBlock(chain); length > 0 && i < chain.blocks.size(); ++i) {
    Block& block = *chain.blocks[i];
    size_t take = std::min(length, freeRoom(block));
    block.size += take;
    length -= take;
  }
}

void appendBytes(ByteChain& chain, const char* data, size_t length) {
  while (length > 0) {
    AppendRoom room = appendRoom(chain, length);
    size_t done = 0;
    for (int i = 0; i < room.count && done < length; ++i) {
      size_t take = std::min(length - done, room.length[i]);
      std::memcpy(room.data[i], data + done, take);
      done += take;
    }
    commitAppend(chain, done);
    data += done;
    length -= done;
  }
}

void dropFront(ByteChain& chain, size_t length) {
  length = std::min(length, chain.size);
  chain.size -= length;
  while (length > 0) {
    const Block& front = *chain.blocks.front();
    size_t inFront = front.size - chain.skip;
    if (length < inFront) {
      chain.skip += length;
      return;
    }
    length -= inFront;
    chain.skip = 0;
    chain.blocks.pop_front();
  }
}

void appendPieces(const ByteChain& chain, size_t offset, std::vector<BytePiece>& pieces) {
  offset += chain.skip;
  for (const BlockRef& block : chain.blocks) {
    if (offset >= block->size) {
      offset -= block->size;
      continue;
    }
    pieces.push_back(BytePiece{block, block->bytes.get() + offset, block->size - offset});
    offset = 0;
  }
}

size_t replySize(const ReplyBytes& reply) {
  size_t size = reply.head.size();
  for (const BytePiece& piece : reply.pieces) size += piece.length;
  return size;
}

std::string flatten(const ReplyBytes& reply) {
  std::string bytes = reply.head;
  for (const BytePiece& piece : reply.pieces) bytes.append(piece.data, piece.length);
  return bytes;
}

}  // namespace kor
