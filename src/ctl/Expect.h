#pragma once
// `expect`: waits for a pattern in a session's output.
#include <string>

#include "base/ControlClient.h"

namespace kor {

struct ExpectRequest {
  std::string pattern;
  bool fromStart = false;  // with no cursor: scan from the oldest retained byte, not the head
  bool exact = false;      // the pattern is a literal substring, not a regex
  bool afterInput = false; // with no cursor: scan from where the most recent input went in
  long long cursor = -1;   // where to scan from; -1: not chosen
  double timeoutSeconds = 30;
};

struct ExpectResult {
  int status = 2;         // 0 matched, 1 timed out, 2 bad pattern or failed read (reported)
  std::string text;       // when matched: the stripped output scanned, up to the match's poll
  long long cursor = 0;   // when matched: where the next read continues
};

// Polls every 100 ms, accumulating stripped output since the start cursor, until the pattern
// shows up.
ExpectResult expectPattern(const Endpoint& session, const ExpectRequest& request);

}  // namespace kor
