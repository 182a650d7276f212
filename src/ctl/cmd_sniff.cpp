// korctl sniff NAME: the daemon's record of the bytes exchanged (input sent, output received),
// once or following.
#include <unistd.h>

#include <cstdio>

#include "base/ControlClient.h"
#include "base/StdoutWriter.h"
#include "ctl/CommandTable.h"
#include "text/ExchangeText.h"

namespace kor {

namespace {

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("cursor", kCursorOptionHelp, value<long long>())
      ("tail", "Start at the current head (only show new records)")
      ("follow", "Keep streaming the exchange until interrupted (Ctrl-C)");
  o.add_options("positional")("NAME", "session", value<std::string>());
  parsePositional(o, {"NAME"});
}

// A waiting read of follow mode waits this long at most before it asks again.
constexpr uint32_t kFollowWaitMs = 10000;

// One Sniff exchange at cursor, not quiet: with waitMs > 0, once the daemon has said it serves
// waiting reads (by its reply type), a waiting read of the exchange record.
bool fetchExchange(const Endpoint& session, long long cursor, uint32_t waitMs, bool& waitRead, ExchangeReply& reply) {
  const bool waiting = waitMs > 0 && waitRead;
  uint8_t replyType = 0;
  std::string payload;
  if (!controlExchange(session, waiting ? kWaitRead : kSniff,
                       waiting ? encodeWaitRead(WaitRead{kSniff, cursor, waitMs}) : encodeInt64(cursor), replyType,
                       payload, false))
    return false;
  if (replyType == kWaitRead) waitRead = true;
  reply = parseExchange(payload);
  return true;
}

int sniffExchange(const Endpoint& session, bool follow, long long cursor, bool tail) {
  ExchangeReply reply;
  bool waitRead = false;
  if (tail) {
    // The daemon answers cursor -1 with its oldest records; only where they end matters here.
    if (!fetchExchange(session, -1, 0, waitRead, reply)) return 1;
    cursor = reply.nextCursor;
  }
  bool printedAny = false;
  for (;;) {
    if (!fetchExchange(session, cursor, follow ? kFollowWaitMs : 0, waitRead, reply)) return 1;
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
    if (!waitRead) usleep(150000);
  }
  std::fprintf(stderr, "next-cursor: %lld\n", cursor);
  return 0;
}

int execute(const Invocation& call) {
  return sniffExchange(resolveEndpoint(call.name), call.args.count("follow") > 0, givenOr(call.args, "cursor", -1LL),
                       call.args.count("tail") > 0);
}

}  // namespace

extern const CommandEntry kSniffCommand = {
    "sniff",
    "Tap the byte exchange (sent input + received output).",
    "tap the byte exchange (sent + received)",
    "NAME [OPTION...]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
