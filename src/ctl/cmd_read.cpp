// korctl read NAME: the session's retained output by cursor, without consuming it: once,
// following new output, or until it settles.
#include <unistd.h>

#include <cstdio>

#include "ctl/CommandTable.h"
#include "ctl/OutputRead.h"

namespace kor {

namespace {

void printNextCursor(long long cursor) { std::fprintf(stderr, "next-cursor: %lld\n", cursor); }

// A waiting read of follow mode waits this long at most before it asks again.
constexpr uint32_t kFollowWaitMs = 10000;

// One reply streamed to standard output as it arrives, through a fixed buffer. A reply cut short
// leaves what had arrived on standard output; when some of it got there, the I/O error is
// reported even where failures are otherwise quiet, and the read fails (status 1).
enum class Streamed { kOk, kFailed, kCutShort };
Streamed streamReply(OutputReader& reader, long long cursor, uint32_t waitMs, ChunkPrinter& printer, bool quiet) {
  ReplyFailure failure;
  if (streamOutput(reader, cursor, waitMs, printer.sink(), quiet, &failure)) return printer.finish() ? Streamed::kOk : Streamed::kCutShort;
  if (printer.writeFailed) return Streamed::kCutShort;  // reported by the writer
  if (printer.bytesWritten > 0 && !failure.ioError.empty()) {
    if (quiet) reportIoError(reader.session.name, failure.ioError);
    return Streamed::kCutShort;
  }
  return Streamed::kFailed;
}

int readOnce(const Endpoint& session, long long cursor, bool strip) {
  OutputReader reader{session};
  ChunkPrinter printer;
  printer.strip = strip;
  if (streamReply(reader, cursor, 0, printer, false) != Streamed::kOk) return 1;
  printNextCursor(printer.header.nextCursor);
  return 0;
}

// Streams new output until the session goes away (or SIGINT ends the process): waiting reads
// where the daemon serves them, else a read every 150 ms.
int readFollow(const Endpoint& session, long long cursor, bool strip) {
  OutputReader reader{session};
  ChunkPrinter printer;
  printer.strip = strip;
  for (bool first = true;; first = false) {
    const Streamed result = streamReply(reader, cursor, kFollowWaitMs, printer, !first);
    if (result == Streamed::kCutShort) return 1;
    if (result == Streamed::kFailed) {
      if (first) return 1;
      std::fputs("[session ended]\n", stderr);
      return 0;
    }
    cursor = printer.header.nextCursor;
    if (!reader.waitRead) usleep(150000);
  }
}

// Reads until output has arrived and then stayed away for 300 ms, or the time limit passes.
int readSettle(const Endpoint& session, long long cursor, bool strip, double timeoutSeconds) {
  OutputReader reader{session};
  ChunkPrinter printer;
  printer.strip = strip;
  printer.warnOnlyWithBytes = true;  // an empty chunk is not printed in this mode
  auto readOne = [&](long long from, uint32_t waitMs) {
    SettleStep step;
    step.ok = streamReply(reader, from, waitMs, printer, false) == Streamed::kOk;
    step.bytes = printer.bytesSeen;
    step.nextCursor = printer.header.nextCursor;
    return step;
  };
  if (!readUntilSettled(reader, cursor, timeoutSeconds, readOne)) return 1;
  printNextCursor(cursor);
  return 0;
}

using cxxopts::value;

void addOptions(cxxopts::Options& o) {
  o.add_options()("cursor", kCursorOptionHelp, value<long long>())
      ("strip", "Remove ANSI escape sequences")
      ("follow", "Tail new output until interrupted (Ctrl-C)")
      ("timeout", "Wait up to S seconds for new output, then return", value<double>());
  o.add_options("positional")("NAME", "session", value<std::string>());
  parsePositional(o, {"NAME"});
}

int execute(const Invocation& call) {
  const Endpoint session = resolveEndpoint(call.name);
  const long long cursor = givenOr(call.args, "cursor", -1LL);
  const bool strip = call.args.count("strip") > 0;
  const double timeoutSeconds = givenOr(call.args, "timeout", 0.0);
  if (call.args.count("follow")) return readFollow(session, cursor, strip);
  if (timeoutSeconds > 0) return readSettle(session, cursor, strip, timeoutSeconds);
  return readOnce(session, cursor, strip);
}

}  // namespace

extern const CommandEntry kReadCommand = {
    "read",
    "Read session output without consuming it.",
    "read output (non-destructive)",
    "NAME [OPTION...]",
    Arguments::kSession,
    addOptions,
    execute,
};

}  // namespace kor
