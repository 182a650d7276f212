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

bool printChunk(const OutputChunk& chunk, bool strip) {
  if (chunk.gap) std::fputs("korctl: warning: cursor fell behind; output gap skipped\n", stderr);
  const std::string text = strip ? stripAnsi(chunk.data) : chunk.data;
  if (text.empty()) return true;
  return writeStdout(text);
}

}  // namespace kor
