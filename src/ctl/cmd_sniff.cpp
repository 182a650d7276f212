#include <unistd.h>

#include <cstdio>

#include "base/ControlClient.h"
#include "base/StdoutWriter.h"
#include "ctl/Commands.h"
#include "ctl/Exchange.h"

namespace kor {

namespace {

// One Sniff exchange at cursor, not quiet.
bool fetchExchange(const std::string& name, long long cursor, ExchangeReply& reply) {
  uint8_t replyType = 0;
  std::string payload;
  if (!controlExchange(name, kSniff, encodeInt64(cursor), replyType, payload, false)) return false;
  reply = parseExchange(payload);
  return true;
}

}  // namespace

int sniffExchange(const std::string& name, bool follow, long long cursor, bool tail) {
  ExchangeReply reply;
  if (tail) {
    // The daemon answers cursor -1 with its oldest records; only where they end matters here.
    if (!fetchExchange(name, -1, reply)) return 1;
    cursor = reply.nextCursor;
  }
  bool printedAny = false;
  for (;;) {
    if (!fetchExchange(name, cursor, reply)) return 1;
    if (reply.gap && !printedAny) {
      std::fputs("korctl: warning: sniff cursor fell behind; gap skipped\n", stderr);
    }
    std::string lines;
    for (const ExchangeRecord& record : reply.records) lines += formatExchangeRecord(record);
    if (!reply.records.empty()) {
      printedAny = true;
      if (!writeStdout(lines)) return 1;
    }
    cursor = reply.nextCursor;
    if (!follow) break;
    usleep(150000);
  }
  std::fprintf(stderr, "next-cursor: %lld\n", cursor);
  return 0;
}

}  // namespace kor
