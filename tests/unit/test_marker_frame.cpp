// Marker framing: the frame texts, the end-line extraction and the growing-output scanner.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <regex>
#include <set>
#include <vector>

#include "RandomText.h"
#include "text/MarkerFrame.h"

using namespace kor;

namespace {
const std::string T = "0a1b2c3d";
const std::string W = "KORCTL_0a1b2c3d";
}  // namespace

TEST(MarkerFrame, WorkedFrameTexts) {
  EXPECT_EQ(buildMarkerFrame("ls", T, false, "$?"),
            " echo KORCTL_0a1b2c3d; KORCTL_C=$(cat <<'KORCTL_BODY_0a1b2c3d'\nls\nKORCTL_BODY_0a1b2c3d\n); "
            "KORCTL_E=${ZSH_VERSION+builtin}; if (eval \"KORCTL_check() {\n$KORCTL_C\n}\") 2>/dev/null; then "
            "${KORCTL_E:-command} eval \"$KORCTL_C\"; else (eval \"$KORCTL_C\"); fi; echo KORCTL_0a1b2c3d:$?; "
            "unset KORCTL_C KORCTL_E\n");
  EXPECT_EQ(buildMarkerFrame("ls", T, true, "$?"),
            "\x1b[200~ echo KORCTL_0a1b2c3d\n eval 'ls'\n echo KORCTL_0a1b2c3d:$?\x1b[201~\r");
  EXPECT_EQ(buildMarkerFrame("it's", T, true, "$status", PasteWord::kFishUnescape),
            "\x1b[200~ echo KORCTL_0a1b2c3d\n eval (string unescape --style=url -- \"it%27s\" | string collect)\n"
            " echo KORCTL_0a1b2c3d:$status\x1b[201~\r");
}

TEST(MarkerFrame, TokensAreEightLowercaseHexDigits) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string token = makeRunToken();
    ASSERT_EQ(token.size(), 8u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
    seen.insert(token);
  }
  EXPECT_GT(seen.size(), 45u);
}

TEST(MarkerFrame, MarkerExtraction) {
  struct Case {
    const char* what;
    std::string text;
    bool found;
    std::string output;
    int status;
  };
  const std::string echoTyped = "echo " + W + "; eval \"$(cat <<'KORCTL_BODY_" + T + "'\r\n> ls\r\n> )\"; echo " + W +
                                ":$?\r\n";
  const std::string echoPasted = "echo " + W + "\r\nls\r\necho " + W + ":$?\r\n";
  const Case cases[] = {
      {"typed, CRLF", echoTyped + W + "\r\nhi\r\n" + W + ":0\r\n$ ", true, "hi\r\n", 0},
      {"LF only, status 42", echoTyped + W + "\nhi\n" + W + ":42\n", true, "hi\n", 42},
      {"no output", echoTyped + W + "\r\n" + W + ":1\r\n", true, "", 1},
      {"no final line feed", echoTyped + W + "\r\nabc" + W + ":0\r\n", true, "abc", 0},
      {"pasted echo skipped", echoPasted + W + "\r\nout\r\n" + W + ":0\r\n", true, "out\r\n", 0},
      {"look-alike line in output", echoTyped + W + "\r\na\r\n" + W + "\r\nb\r\n" + W + ":3\r\n", true, "b\r\n", 3},
      {"look-alikes that are no lines", echoTyped + W + "\r\n" + W + "x " + W + ":y " + W + ":\r\n" + W + "\r\r\n" +
                                            W + ":0\r\n",
       true, W + "x " + W + ":y " + W + ":\r\n" + W + "\r\r\n", 0},
      {"other token ignored", echoTyped + W + "\r\nKORCTL_ffffffff:0\r\n" + W + ":5\r\n", true,
       "KORCTL_ffffffff:0\r\n", 5},
      {"end line cut before line end", echoTyped + W + "\r\nhi\r\n" + W + ":0", false, "", 0},
      {"end line cut in its CR LF", echoTyped + W + "\r\nhi\r\n" + W + ":0\r", false, "", 0},
      {"CR not followed by LF", W + "\r\nhi\r\n" + W + ":0\rx\n" + W + ":7\n", true, "hi\r\n" + W + ":0\rx\n", 7},
      {"no start line: everything before the end", "junk\r\n" + W + ":0\r\n", true, "junk\r\n", 0},
      {"first end line wins", W + "\n" + W + ":1\n" + W + ":2\n", true, "", 1},
      {"huge status like atoi", W + "\n" + W + ":99999999999999999999\n", true, "", -1},
  };
  for (const Case& c : cases) {
    MarkerResult r = extractMarkerOutput(c.text, T);
    EXPECT_EQ(r.found, c.found) << c.what;
    if (!c.found) continue;
    EXPECT_EQ(r.output, c.output) << c.what;
    EXPECT_EQ(r.exitCode, c.status) << c.what;
  }
}

TEST(MarkerFrame, MarkerStartedNeedsALineStart) {
  EXPECT_FALSE(markerStarted("echo " + W + "\r\nls\r\n", T));  // the pasted echo
  EXPECT_TRUE(markerStarted("echo " + W + "\r\nls\r\n" + W + "\r\n", T));
  EXPECT_TRUE(markerStarted("x\n" + W + "\n", T));
  EXPECT_FALSE(markerStarted("x\n" + W + "\r", T));
  EXPECT_FALSE(markerStarted(W + "\n", T));  // at the very start there is no line break before it
}

// The scanner reads a growing text; every answer on the way must equal the answer of the
// patterns on that prefix, searched from scratch.
TEST(MarkerFrame, MarkerScanOfGrowingOutputEqualsFreshSearch) {
  const std::regex endRe(W + ":([0-9]+)\r?\n");
  const std::regex startRe(W + "\r?\n");
  const std::regex lineRe("[\r\n]" + W + "\r?\n");
  const std::string texts[] = {
      "echo " + W + "; eval x\r\n" + W + "\r\nA\r\n" + W + "\r\nB" + W + "\r" + W + ":x\r\n" + W + ":12\r\nnext",
      "\x1b[200~echo " + W + "\r\n" + W + "\n\n" + W + "\n" + W + ":0\n",
  };
  for (const std::string& text : texts) {
    for (size_t step : {1u, 3u, 7u}) {
      MarkerScanner scanner(T);
      for (size_t n = 0;; n = std::min(n + step, text.size())) {
        const std::string prefix = text.substr(0, n);
        scanner.scan(prefix);
        std::smatch m;
        bool found = std::regex_search(prefix, m, endRe);
        ASSERT_EQ(scanner.endFound, found) << n;
        if (found) {
          size_t endPos = m.position(0), outStart = 0;
          for (auto it = std::sregex_iterator(prefix.begin(), prefix.end(), startRe); it != std::sregex_iterator(); ++it)
            if (static_cast<size_t>(it->position(0) + it->length(0)) <= endPos) outStart = it->position(0) + it->length(0);
          EXPECT_EQ(scanner.endPos, endPos);
          EXPECT_EQ(scanner.outStart, outStart);
          EXPECT_EQ(scanner.exitCode, std::stoi(m[1]));
          break;
        }
        EXPECT_EQ(scanner.lineStarted, std::regex_search(prefix, lineRe)) << n;
        if (n == text.size()) break;
      }
      EXPECT_TRUE(scanner.endFound);
    }
  }
}

// Searches must stay flat on hostile output of any size (no recursion per byte).
TEST(MarkerFrame, LargeOutputsDoNotCrash) {
  std::string big(4 << 20, 'a');
  big += "\x1b]133;C";
  big += std::string(1 << 20, 'K');
  EXPECT_FALSE(extractMarkerOutput(big, T).found);
  std::string lines;
  for (int i = 0; i < 200000; ++i) lines += "line\r\n";
  MarkerResult r = extractMarkerOutput(W + "\r\n" + lines + W + ":0\r\n", T);
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.output, lines);
}

// Random outputs read in random chunks: after every read the scanner answers exactly what a
// fresh search of everything read so far answers.
TEST(MarkerFrame, ScannerMatchesFreshSearchesOnRandomOutput) {
  std::mt19937 rng(12345);
  const std::vector<std::string> markerPieces = {W, W, ":", "3", "45", "\r", "\n", "x", "K", "KORCTL_", "echo "};
  const std::regex endRe(W + ":([0-9]+)\r?\n");
  const std::regex startRe(W + "\r?\n");
  const std::regex lineRe("[\r\n]" + W + "\r?\n");
  for (int round = 0; round < 300; ++round) {
    const std::string marker = randomText(rng, markerPieces, 1 + static_cast<int>(rng() % 30));
    MarkerScanner markerScanner(T);
    for (size_t n = 0;;) {
      const std::string prefix = marker.substr(0, n);
      markerScanner.scan(prefix);
      std::smatch m;
      const bool found = std::regex_search(prefix, m, endRe);
      ASSERT_EQ(markerScanner.endFound, found) << round << " " << n;
      if (found) {
        size_t endPos = m.position(0), outStart = 0;
        for (auto it = std::sregex_iterator(prefix.begin(), prefix.end(), startRe); it != std::sregex_iterator(); ++it)
          if (static_cast<size_t>(it->position(0) + it->length(0)) <= endPos) outStart = it->position(0) + it->length(0);
        ASSERT_EQ(markerScanner.endPos, endPos) << round;
        ASSERT_EQ(markerScanner.outStart, outStart) << round;
        ASSERT_EQ(markerScanner.exitCode, std::atoi(m[1].str().c_str())) << round;
        break;
      }
      ASSERT_EQ(markerScanner.lineStarted, std::regex_search(prefix, lineRe)) << round << " " << n;
      ASSERT_EQ(markerStarted(prefix, T), std::regex_search(prefix, lineRe)) << round << " " << n;
      if (n == marker.size()) break;
      n = std::min(marker.size(), n + 1 + rng() % 8);
    }
  }
}
