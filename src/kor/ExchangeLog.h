#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>

#include "base/Wire.h"
#include "kor/ByteChain.h"

namespace kor {

constexpr size_t kDefaultExchangeLimit = 4u * 1024 * 1024;
// What the record shows for a secret, in place of its bytes.
constexpr const char* kHiddenInputText = "[hidden input]";

// The record of bytes exchanged with the terminal, one entry per write or read, numbered by
// sequence; the oldest entries go once their data exceeds the limit. The entries are kept as
// they go out in a sniff reply (direction byte, 4-byte big-endian length, data), back to back
// in a chain of blocks, so a reply sends them from there.
struct ExchangeLog {
  size_t limit = kDefaultExchangeLimit;
  ByteChain chain;
  struct Entry {
    int64_t at;       // where it starts, counting every byte the chain ever took
    uint32_t length;  // of its data
  };
  std::deque<Entry> records;  // oldest first; the chain starts at records.front()
  int64_t end = 0;            // where the next entry starts
  size_t bytes = 0;           // data bytes held
  int64_t first = 0;          // sequence number of records.front()
};

// One entry whose data is `data` followed by `more` (an output read that filled one block and
// went on into the next is still one entry).
void appendExchange(ExchangeLog& log, char direction, const char* data, size_t length,
                    const char* more = nullptr, size_t moreLength = 0);
int64_t nextExchangeCursor(const ExchangeLog& log);
// Whether an exchange read at cursor would get entries or a gap now.
bool exchangeReady(const ExchangeLog& log, int64_t cursor);
// Payload of a sniff reply: next cursor, gap flag, then the entries from the cursor on.
// -1 and too-old cursors start at the oldest entry.
ReplyBytes exchangeReadReply(const ExchangeLog& log, int64_t cursor);

}  // namespace kor
