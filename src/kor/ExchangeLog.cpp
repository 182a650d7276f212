#include "kor/ExchangeLog.h"


namespace kor {

void appendExchange(ExchangeLog& log, char direction, const char* data, size_t length) {
  log.records.push_back(ExchangeRecord{direction, std::string(data, length)});
  log.bytes += length;
  while (log.bytes > log.limit && log.records.size() > 1) {
    log.bytes -= log.records.front().data.size();
    log.records.pop_front();
    ++log.first;
  }
}

int64_t nextExchangeCursor(const ExchangeLog& log) {
  return log.first + static_cast<int64_t>(log.records.size());
}

std::string exchangeReadReply(const ExchangeLog& log, int64_t cursor) {
  bool gap = false;
  if (cursor < 0) {
    cursor = log.first;
  } else if (cursor < log.first) {
    cursor = log.first;
    gap = true;
  }
  int64_t next = nextExchangeCursor(log);
  std::string reply = encodeCursorReplyHeader(next, gap);
  for (int64_t at = cursor; at < next; ++at)
    appendExchangeRecord(reply, log.records[static_cast<size_t>(at - log.first)]);
  return reply;
}

}  // namespace kor
