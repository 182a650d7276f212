#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "base/Wire.h"

namespace kor {

constexpr size_t kDefaultExchangeLimit = 4u * 1024 * 1024;
// What the record shows for a secret, in place of its bytes.
constexpr const char* kHiddenInputText = "[hidden input]";

// The record of bytes exchanged with the terminal, one entry per write or read, numbered by
// sequence; the oldest entries go once their data exceeds the limit.
struct ExchangeLog {
  size_t limit = kDefaultExchangeLimit;
  std::deque<ExchangeRecord> records;
  size_t bytes = 0;    // data bytes held
  int64_t first = 0;   // sequence number of records.front()
};

void appendExchange(ExchangeLog& log, char direction, const char* data, size_t length);
int64_t nextExchangeCursor(const ExchangeLog& log);
// Payload of a sniff reply: next cursor, gap flag, then each record as direction byte,
// 4-byte big-endian length and data. -1 and too-old cursors start at the oldest record.
std::string exchangeReadReply(const ExchangeLog& log, int64_t cursor);

}  // namespace kor
