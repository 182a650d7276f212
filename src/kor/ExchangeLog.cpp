#include "kor/ExchangeLog.h"

namespace kor {

namespace {

size_t entrySize(uint32_t dataLength) { return kExchangeRecordHeaderSize + dataLength; }

struct ExchangeStart {
  int64_t cursor = 0;
  bool gap = false;
};

ExchangeStart exchangeStart(const ExchangeLog& log, int64_t cursor) {
  if (cursor < 0) return ExchangeStart{log.first, false};
  if (cursor < log.first) return ExchangeStart{log.first, true};
  return ExchangeStart{cursor, false};
}

}  // namespace

void appendExchange(ExchangeLog& log, char direction, const char* data, size_t length, const char* more,
                    size_t moreLength) {
  const uint32_t total = static_cast<uint32_t>(length + moreLength);
  char header[kExchangeRecordHeaderSize];
  encodeExchangeRecordHeader(header, direction, total);
  appendBytes(log.chain, header, sizeof header);
  appendBytes(log.chain, data, length);
  if (moreLength > 0) appendBytes(log.chain, more, moreLength);
  log.records.push_back(ExchangeLog::Entry{log.end, total});
  log.end += static_cast<int64_t>(entrySize(total));
  log.bytes += total;
  while (log.bytes > log.limit && log.records.size() > 1) {
    log.bytes -= log.records.front().length;
    dropFront(log.chain, entrySize(log.records.front().length));
    log.records.pop_front();
    ++log.first;
  }
}

int64_t nextExchangeCursor(const ExchangeLog& log) {
  return log.first + static_cast<int64_t>(log.records.size());
}

bool exchangeReady(const ExchangeLog& log, int64_t cursor) {
  ExchangeStart start = exchangeStart(log, cursor);
  return start.gap || start.cursor < nextExchangeCursor(log);
}

ReplyBytes exchangeReadReply(const ExchangeLog& log, int64_t cursor) {
  const ExchangeStart start = exchangeStart(log, cursor);
  const int64_t next = nextExchangeCursor(log);
  ReplyBytes reply;
  reply.head = encodeCursorReplyHeader(next, start.gap);
  if (start.cursor >= next) return reply;
  const int64_t at = log.records[static_cast<size_t>(start.cursor - log.first)].at;
  appendPieces(log.chain, static_cast<size_t>(at - log.records.front().at), reply.pieces);
  return reply;
}

}  // namespace kor
