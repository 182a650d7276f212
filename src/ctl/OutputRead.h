#pragma once
#include <string>

#include "base/ControlClient.h"

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

// Writes a chunk for a human or a pipe (gap warning, optional stripping); false when standard
// output could not be written (already reported).
bool printChunk(const OutputChunk& chunk, bool strip);

}  // namespace kor
