#include "ctl/OutputRead.h"

#include <cstdio>

#include "base/ControlClient.h"
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

bool printChunk(const OutputChunk& chunk, bool strip) {
  if (chunk.gap) std::fputs("korctl: warning: cursor fell behind; output gap skipped\n", stderr);
  const std::string text = strip ? stripAnsi(chunk.data) : chunk.data;
  if (text.empty()) return true;
  return writeStdout(text);
}

}  // namespace kor
