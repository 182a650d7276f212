#pragma once
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "base/ControlClient.h"
#include "text/Strip.h"

namespace kor {

// One output-read reply: the bytes past the cursor, where to continue, and whether output
// between the cursor and the first byte was no longer retained.
struct OutputChunk {
  std::string data;
  long long nextCursor = 0;
  bool gap = false;
};

std::string encodeCursor(long long cursor);
// A payload shorter than 9 bytes reads as no bytes, next cursor 0, gap clear.
OutputChunk parseOutputReply(const std::string& payload);

// One ReadOutput exchange at cursor; false when the exchange failed (reported unless quiet).
bool fetchOutput(const Endpoint& session, long long cursor, OutputChunk& chunk, bool quiet);

// One screen exchange (with attributes: rows carry SGR sequences); false when it failed,
// reported as "korctl COMMAND: ..." where korctl's own words are needed (a daemon that does not
// know the request, a reply that does not parse).
bool fetchScreen(const Endpoint& session, bool attributes, ScreenImage& screen, const char* command);

// A session read by a command that follows it: waiting reads once the daemon has said it serves
// them (by the type of any read reply, or by waitRead=1 in a status record the command reads
// anyway), plain reads otherwise, so a daemon that does not serve them sees only plain reads.
struct OutputReader {
  Endpoint session;
  bool waitRead = false;
};
// Takes note of what a status record says about waiting reads.
void noteStatusRecord(OutputReader& reader, const std::string& record);

// Takes a read reply as it arrives: its header first (also for a reply without bytes; a reply
// shorter than a header reads as next cursor 0, gap clear), then its bytes in pieces. Either
// returns false to stop the exchange (having said why).
struct ChunkSink {
  std::function<bool(const CursorReplyHeader& header)> header;
  std::function<bool(const char* data, size_t length)> bytes;
};
// One read at cursor into sink: a waiting read of at most waitMs when waitMs > 0 and the
// daemon serves them, else a plain read. False when the exchange failed (reported unless quiet;
// failure says what it was) or the sink stopped it.
bool streamOutput(OutputReader& reader, long long cursor, uint32_t waitMs, const ChunkSink& sink, bool quiet,
                  ReplyFailure* failure = nullptr);
// The two halves of streamOutput, for a caller that waits on something else meanwhile: the
// request sent (the descriptor, or -1 after the messages), then the reply read into sink.
int sendOutputRead(OutputReader& reader, long long cursor, uint32_t waitMs, bool quiet);
bool receiveOutput(OutputReader& reader, int fd, const ChunkSink& sink, bool quiet, ReplyFailure* failure = nullptr);
// The wait of a waiting read that is to end by a time `left` from now: whole milliseconds,
// rounded up so a wait never ends early (at least 1, at most 10 s), 0 when none is left.
uint32_t waitMillis(std::chrono::steady_clock::duration left);
// A sink that fills chunk, reusing its buffer.
ChunkSink chunkSink(OutputChunk& chunk);
// The same into chunk, whose buffer is reused from read to read.
bool fetchOutput(OutputReader& reader, long long cursor, uint32_t waitMs, OutputChunk& chunk, bool quiet);

// One read of readUntilSettled: false in ok stops it (a failure, already reported); bytes is
// how many raw bytes the reply carried.
struct SettleStep {
  bool ok = false;
  size_t bytes = 0;
  long long nextCursor = 0;
};
// Reads on from cursor until output has arrived and then stayed away for 300 ms, or the time
// limit passes, each read through readOne(cursor, waitMs): where the daemon serves waiting reads
// each one waits for output until the quiet period or the time limit would end, else the loop
// pauses 50 ms between reads. False when a read failed; cursor ends as the next cursor after the
// last read.
bool readUntilSettled(OutputReader& reader, long long& cursor, double timeoutSeconds,
                      const std::function<SettleStep(long long cursor, uint32_t waitMs)>& readOne);

// Writes one reply as it arrives: the gap warning first,
// then the bytes (stripped, with strip: each reply on its own, as a whole). With
// warnOnlyWithBytes the warning is given only when the reply carries bytes.
struct ChunkPrinter {
  bool strip = false;
  bool warnOnlyWithBytes = false;
  // Per reply:
  CursorReplyHeader header;
  size_t bytesSeen = 0;     // raw bytes of the reply so far
  size_t bytesWritten = 0;  // bytes that reached standard output
  bool writeFailed = false;
  AnsiStripper stripper;
  ChunkSink sink();
  // After a reply that arrived whole: writes what stripping held back. False when standard
  // output failed (reported).
  bool finish();
};

}  // namespace kor
