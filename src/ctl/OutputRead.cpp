#include "ctl/OutputRead.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "base/ControlClient.h"
#include "base/Durations.h"
#include "base/StatusRecord.h"
#include "base/StdoutWriter.h"
#include "text/Strip.h"

namespace kor {

std::string encodeCursor(long long cursor) { return encodeInt64(cursor); }

OutputChunk parseOutputReply(const std::string& payload) {
  CursorReplyHeader header;
  if (!decodeCursorReplyHeader(payload, header)) return OutputChunk{};
  return OutputChunk{payload.substr(kCursorReplyHeaderSize), header.nextCursor, header.gap};
}

bool fetchOutput(const Endpoint& session, long long cursor, OutputChunk& chunk, bool quiet) {
  uint8_t replyType = 0;
  std::string reply;
  if (!controlExchange(session, kReadOutput, encodeCursor(cursor), replyType, reply, quiet)) return false;
  chunk = parseOutputReply(reply);
  return true;
}

bool fetchScreen(const Endpoint& session, bool attributes, ScreenImage& screen, const char* command) {
  uint8_t replyType = 0;
  std::string reply;
  const std::string flags(1, static_cast<char>(attributes ? kScreenAttributes : 0));
  if (!controlExchange(session, kScreen, flags, replyType, reply, false)) {
    if (replyType == kErrorReply && reply.rfind("unknown request type", 0) == 0)
      std::fprintf(stderr, "korctl %s: the daemon of '%s' does not answer screen requests (a kor older than this korctl)\n",
                   command, session.name.c_str());
    return false;
  }
  if (decodeScreenReply(reply, screen)) return true;
  std::fprintf(stderr, "korctl %s: malformed screen reply from '%s'\n", command, session.name.c_str());
  return false;
}

void noteStatusRecord(OutputReader& reader, const std::string& record) {
  if (parseStatusRecord(record)[kWaitReadField] == "1") reader.waitRead = true;
}

namespace {

bool isWaiting(const OutputReader& reader, uint32_t waitMs) { return waitMs > 0 && reader.waitRead; }

}  // namespace

int sendOutputRead(OutputReader& reader, long long cursor, uint32_t waitMs, bool quiet) {
  const bool waiting = isWaiting(reader, waitMs);
  return sendRequest(reader.session, waiting ? kWaitRead : kReadOutput,
                     waiting ? encodeWaitRead(WaitRead{kReadOutput, cursor, waitMs}) : encodeCursor(cursor), quiet);
}

bool receiveOutput(OutputReader& reader, int fd, const ChunkSink& sink, bool quiet, ReplyFailure* failure) {
  std::string head;  // the reply's cursor header, as it comes in
  bool headerTaken = false;
  auto payload = [&](const char* data, size_t length) {
    if (!headerTaken) {
      const size_t take = std::min(length, kCursorReplyHeaderSize - head.size());
      head.append(data, take);
      data += take;
      length -= take;
      if (head.size() < kCursorReplyHeaderSize) return true;
      headerTaken = true;
      CursorReplyHeader header;
      decodeCursorReplyHeader(head, header);
      if (!sink.header(header)) return false;
    }
    return length == 0 || sink.bytes(data, length);
  };
  uint8_t replyType = 0;
  if (!receiveReply(reader.session, fd, replyType, payload, quiet, failure)) return false;
  if (replyType == kWaitRead) reader.waitRead = true;
  return headerTaken || sink.header(CursorReplyHeader{});
}

bool streamOutput(OutputReader& reader, long long cursor, uint32_t waitMs, const ChunkSink& sink, bool quiet,
                  ReplyFailure* failure) {
  int fd = sendOutputRead(reader, cursor, waitMs, quiet);
  return fd >= 0 && receiveOutput(reader, fd, sink, quiet, failure);
}

uint32_t waitMillis(std::chrono::steady_clock::duration left) {
  constexpr long long kLongestWaitMs = 10000;
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  const long long ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return static_cast<uint32_t>(std::min(ms, kLongestWaitMs));
}

ChunkSink chunkSink(OutputChunk& chunk) {
  chunk.data.clear();
  ChunkSink sink;
  sink.header = [&chunk](const CursorReplyHeader& header) {
    chunk.nextCursor = header.nextCursor;
    chunk.gap = header.gap;
    return true;
  };
  sink.bytes = [&chunk](const char* data, size_t length) {
    chunk.data.append(data, length);
    return true;
  };
  return sink;
}

bool fetchOutput(OutputReader& reader, long long cursor, uint32_t waitMs, OutputChunk& chunk, bool quiet) {
  return streamOutput(reader, cursor, waitMs, chunkSink(chunk), quiet);
}

bool readUntilSettled(OutputReader& reader, long long& cursor, double timeoutSeconds,
                      const std::function<SettleStep(long long cursor, uint32_t waitMs)>& readOne) {
  using Clock = std::chrono::steady_clock;
  using std::chrono::milliseconds;
  const auto start = Clock::now();
  const auto deadline = start + milliseconds(durationMillis(timeoutSeconds));
  const auto quiet = milliseconds(300);
  auto lastOutput = start;
  bool seen = false;
  while (Clock::now() < deadline) {
    const auto now = Clock::now();
    const auto until = seen ? std::min(deadline, lastOutput + quiet + milliseconds(1)) : deadline;
    const SettleStep step = readOne(cursor, waitMillis(until - now));
    if (!step.ok) return false;
    cursor = step.nextCursor;
    if (step.bytes > 0) {
      seen = true;
      lastOutput = Clock::now();
    } else if (seen && Clock::now() - lastOutput > quiet) {
      break;
    }
    if (!reader.waitRead) usleep(50000);
  }
  return true;
}

namespace {

const char* const kGapWarning = "korctl: warning: cursor fell behind; output gap skipped\n";

}  // namespace

ChunkSink ChunkPrinter::sink() {
  bytesSeen = bytesWritten = 0;
  writeFailed = false;
  stripper = AnsiStripper{};
  ChunkSink sink;
  sink.header = [this](const CursorReplyHeader& h) {
    header = h;
    if (header.gap && !warnOnlyWithBytes) std::fputs(kGapWarning, stderr);
    return true;
  };
  sink.bytes = [this](const char* data, size_t length) {
    if (bytesSeen == 0 && header.gap && warnOnlyWithBytes) std::fputs(kGapWarning, stderr);
    bytesSeen += length;
    if (strip) {
      stripper.feed(data, length);
      data = stripper.out.data();  // after feed, out holds just the settled text
      length = stripper.settledSize();
    }
    if (length > 0 && !writeStdout(data, length)) {
      writeFailed = true;
      return false;
    }
    bytesWritten += length;
    if (strip) stripper.dropSettled();
    return true;
  };
  return sink;
}

bool ChunkPrinter::finish() {
  if (!strip) return true;
  const std::string& rest = stripper.text();
  if (rest.empty()) return true;
  bytesWritten += rest.size();
  return writeStdout(rest);
}

}  // namespace kor
