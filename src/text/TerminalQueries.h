#pragma once
// Terminal queries taken out of replayed output.
//
// Output a program printed long ago still holds the queries it sent its terminal then: cursor
// position and status reports, device attributes, mode and setting requests, colour and palette
// queries, terminal name and capability queries. Replayed to a real terminal, each one is
// answered again, and the answers arrive as keystrokes. The filter removes them and passes
// every other byte on unchanged, in order. Output comes in chunks, so a sequence split between
// two chunks is held back until its end shows what it is.
#include <cstddef>
#include <cstdint>
#include <string>

namespace kor {

struct QueryFilter {
  enum class State : uint8_t { Ground, Escape, Csi, String, StringEscape, PassString, PassStringEscape };
  State state = State::Ground;
  char introducer = 0;  // ']' or 'P' for the string being read
  std::string held;     // the sequence read so far, not yet passed on
};

// The bytes of chunk that may reach the terminal; a sequence still open at the end of chunk
// stays in the filter.
std::string filterQueries(QueryFilter& filter, const std::string& chunk);

// Whatever the filter still holds, as it is (the end of the replay: what follows is live).
std::string releaseQueries(QueryFilter& filter);

// An output chunk that ends at nextCursor, as attach shows it: bytes before the cursor live
// (where attach began) are history and filtered, the rest pass unchanged.
std::string replayedOutput(QueryFilter& filter, const std::string& data, int64_t nextCursor, int64_t live);

}  // namespace kor
