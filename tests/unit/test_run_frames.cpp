#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>
#include <regex>
#include <set>

#include "ctl/MarkerFrame.h"
#include "ctl/OscFrame.h"

using namespace kor;

namespace {
const std::string T = "0a1b2c3d";
const std::string W = "KORCTL_0a1b2c3d";
}  // namespace

TEST(RunFrames, WorkedFrameTexts) {
  EXPECT_EQ(buildMarkerFrame("ls", T, false, "$?"),
            "echo KORCTL_0a1b2c3d; eval \"$(cat <<'KORCTL_BODY_0a1b2c3d'\nls\nKORCTL_BODY_0a1b2c3d\n)\"; "
            "echo KORCTL_0a1b2c3d:$?\n");
  EXPECT_EQ(buildMarkerFrame("ls", T, true, "$?"),
            "\x1b[200~echo KORCTL_0a1b2c3d\nls\necho KORCTL_0a1b2c3d:$?\x1b[201~\r");
  EXPECT_EQ(buildMarkerFrame("ls", T, true, "$status"),
            "\x1b[200~echo KORCTL_0a1b2c3d\nls\necho KORCTL_0a1b2c3d:$status\x1b[201~\r");
  EXPECT_EQ(buildOscFrame("ls", T, false),
            "eval \"$(cat <<'KORCTL_BODY_0a1b2c3d'\nls\nKORCTL_BODY_0a1b2c3d\n)\"\n");
  EXPECT_EQ(buildOscFrame("ls", T, true), "\x1b[200~ls\x1b[201~\r");
}

TEST(RunFrames, TokensAreEightLowercaseHexDigits) {
  std::set<std::string> seen;
  for (int i = 0; i < 50; ++i) {
    std::string token = makeRunToken();
    ASSERT_EQ(token.size(), 8u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos) << token;
    seen.insert(token);
  }
  EXPECT_GT(seen.size(), 45u);
}

TEST(RunFrames, MarkerExtraction) {
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

TEST(RunFrames, MarkerStartedNeedsALineStart) {
  EXPECT_FALSE(markerStarted("echo " + W + "\r\nls\r\n", T));  // the pasted echo
  EXPECT_TRUE(markerStarted("echo " + W + "\r\nls\r\n" + W + "\r\n", T));
  EXPECT_TRUE(markerStarted("x\n" + W + "\n", T));
  EXPECT_FALSE(markerStarted("x\n" + W + "\r", T));
  EXPECT_FALSE(markerStarted(W + "\n", T));  // at the very start there is no line break before it
}

// The scanner reads a growing text; every answer on the way must equal the answer of the
// patterns on that prefix, searched from scratch.
TEST(RunFrames, MarkerScanOfGrowingOutputEqualsFreshSearch) {
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

TEST(RunFrames, OscMarkExitCodes) {
  struct Case {
    std::string mark;
    int status;
  };
  const Case cases[] = {
      {"\x1b]133;D;0\a", 0},           {"\x1b]133;D;0\x1b\\", 0},       {"\x1b]133;D;0;aid=7\a", 0},
      {"\x1b]133;D\a", -1},            {"\x1b]133;D;\a", -1},           {"\x1b]133;D;x\a", -1},
      {"\x1b]133;D;2147483647\a", 2147483647}, {"\x1b]133;D;2147483648\a", -1}, {"\x1b]133;D;99999999999999\a", -1},
      {"\x1b]133;D;42\a", 42},
  };
  for (const Case& c : cases) {
    OscMark mark;
    ASSERT_TRUE(findOscMark("x" + c.mark + "y", 0, 'D', mark)) << c.mark;
    EXPECT_EQ(mark.exitCode, c.status) << c.mark;
    EXPECT_EQ(mark.start, 1u);
    EXPECT_EQ(mark.end, 1 + c.mark.size());
  }
}

TEST(RunFrames, OscMarksThatAreNotMarks) {
  OscMark mark;
  EXPECT_FALSE(findOscMark("\x1b]133;D;0\x1b[m\a", 0, 'D', mark));  // another ESC inside
  EXPECT_FALSE(findOscMark("\x1b]133;D;0", 0, 'D', mark));          // not terminated yet
  EXPECT_FALSE(findOscMark("\x1b]133;D;0\x1b", 0, 'D', mark));
  EXPECT_FALSE(findOscMark("\x1b]133;C\a", 0, 'D', mark));
  EXPECT_FALSE(findOscMark("\x1b]133;", 0, 'D', mark));
  EXPECT_FALSE(findOscMark("\x1b]133;D\a", 1, 'D', mark));  // starts before from
  // A rejected candidate does not hide a later mark.
  ASSERT_TRUE(findOscMark("\x1b]133;D;1\x1bx\x1b]133;D;2\a", 0, 'D', mark));
  EXPECT_EQ(mark.exitCode, 2);
}

TEST(RunFrames, OscExtraction) {
  const std::string C = "\x1b]133;C\a", A = "\x1b]133;A\x1b\\", B = "\x1b]133;B\a";
  auto D = [](const std::string& n) { return "\x1b]133;D;" + n + "\a"; };
  struct Case {
    const char* what;
    std::string text;
    bool found;
    std::string output;
    int status;
  };
  const Case cases[] = {
      {"plain pair", A + "$ " + B + "ls\r\n" + C + "a\r\nb\r\n" + D("0") + A + "$ ", true, "a\r\nb\r\n", 0},
      {"two C marks: output after the second", C + "first\r\n" + C + "second\r\n" + D("3"), true, "second\r\n", 3},
      {"D before C ignored", D("9") + "x" + C + "out\n" + D("4"), true, "out\n", 4},
      {"D without status", C + "out\n\x1b]133;D\a", true, "out\n", -1},
      {"only C so far", C + "partial", false, "", 0},
      {"D not terminated yet", C + "out\n\x1b]133;D;0", false, "", 0},
      {"leading paste switch and CR", C + "\x1b[?2004l\rout\r\n" + D("0"), true, "out\r\n", 0},
      {"leading reset and title", C + "\x1b[0m\x1b]0;title\aout" + D("0"), true, "out", 0},
      {"colour kept", C + "\x1b[1;31mred\x1b[0m\r\n" + D("0"), true, "\x1b[1;31mred\x1b[0m\r\n", 0},
      {"trailing cwd report", C + "out\r\n\x1b]7;file:///tmp\a" + D("0"), true, "out\r\n", 0},
      {"trailing prompt mark with ST", C + "out\r\n" + A + D("0"), true, "out\r\n", 0},
      {"trailing title stays", C + "out\x1b]0;t\a" + D("0"), true, "out\x1b]0;t\a", 0},
      {"partial-line marker", C + "out\x1b[7m%\x1b[27m   \r \r" + D("0"), true, "out", 0},
      {"LF ending untouched", C + "out\n" + D("0"), true, "out\n", 0},
  };
  for (const Case& c : cases) {
    OscResult r = extractOscOutput(c.text);
    EXPECT_EQ(r.found, c.found) << c.what;
    if (!c.found) continue;
    EXPECT_EQ(r.output, c.output) << c.what;
    EXPECT_EQ(r.exitCode, c.status) << c.what;
  }
  EXPECT_FALSE(oscStarted("$ ls\r\n" + A + B));
  EXPECT_TRUE(oscStarted("x" + C));
  EXPECT_TRUE(oscStarted("x" + D("1")));
}

TEST(RunFrames, CleanCaptureEnds) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"ab   \r", "ab   \r"},                   // without escape sequences only the leading end is looked at
      {"x\x1b[mab \r \r", "x\x1b[ma"},
      {"   \r", "   \r"},                       // the spaces reach the start: no marker
      {"ab\r", "ab\r"},                         // no space before the CR run
      {"\r\r\rtext", "text"},                   // leading CR run
      {"\x1b[;0;m\x1b[?2004htext\x1b[?2004l", "text"},
      {"\x1b]1337;CurrentDir=/x\atext", "text"},
      {"\x1b]2;t\x1b\\text", "text"},
      {"\x1b]9;notify\atext", "\x1b]9;notify\atext"},  // not a known OSC
      {"text\x1b]133;B\a\x1b]133;A\a", "text"},
      {"text\x1b]1337;X\x1b\\", "text"},
      {"text\x1b]7;/x\x1b[m\a", "text\x1b]7;/x\x1b[m\a"},  // ESC inside the payload
      {"", ""},
      {"\x1b]133;A\a", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(cleanCapture(c.in), c.out) << c.in;
}

TEST(RunFrames, NoiseAndPartialLinePrimitives) {
  const std::string t = "\x1b]7;/tmp\a";
  EXPECT_EQ(skipNoise(t, 0, t.size(), false), t.size());
  EXPECT_EQ(skipNoise(t, 0, t.size() - 1, false), 0u);  // terminator beyond end
  EXPECT_EQ(skipNoise("\x1b[0m", 0, 4, false), 0u);     // resets only lead
  EXPECT_EQ(skipNoise("\x1b[0m", 0, 4, true), 4u);
  EXPECT_EQ(skipNoise("\x1b[1m", 0, 4, true), 0u);
  EXPECT_EQ(skipNoise("\x1b]0;t\a", 0, 6, false), 0u);  // titles only lead
  const std::string p = "ok\x1b[1mX\x1b[0m  \r";
  EXPECT_EQ(trimPartialLineMarker(p, 0, p.size()), 2u);
  EXPECT_EQ(trimPartialLineMarker(p, 3, p.size()), 6u);  // an SGR reaching below start stays
  EXPECT_EQ(trimPartialLineMarker("ab   \r", 0, 6), 1u);
  EXPECT_EQ(trimPartialLineMarker("ab \r \r", 0, 6), 1u);
  EXPECT_EQ(trimPartialLineMarker("\x1b  \r", 0, 4), 4u);
}

// Random chunking of a session's output: the scanner's answer after each read equals a fresh
// extraction of everything read so far.
TEST(RunFrames, OscScanOfGrowingOutputEqualsFreshSearch) {
  const std::string text = "\x1b]133;D;7\a\x1b]133;A\a$ \x1b]133;B\x1b]133;C\x1bx\x1b]133;C\aone\r\n\x1b]133;C\x1b\\"
                           "two\x1b]133;D;1\x1b[m\x1b]133;D;5\x1b\\\x1b]133;A\a";
  for (size_t step : {1u, 2u, 5u}) {
    OscScanner scanner;
    for (size_t n = 0;; n = std::min(n + step, text.size())) {
      const std::string prefix = text.substr(0, n);
      scanner.scan(prefix);
      OscResult fresh = extractOscOutput(prefix);
      ASSERT_EQ(scanner.endFound, fresh.found) << n;
      EXPECT_EQ(scanner.started, oscStarted(prefix)) << n;
      if (fresh.found) {
        OscResult r = scanner.result(prefix);
        EXPECT_EQ(r.output, "two\x1b]133;D;1\x1b[m");  // the broken D mark is output
        EXPECT_EQ(r.exitCode, 5);
        break;
      }
      if (n == text.size()) break;
    }
    EXPECT_TRUE(scanner.endFound);
  }
}

// Searches must stay flat on hostile output of any size (no recursion per byte).
TEST(RunFrames, LargeOutputsDoNotCrash) {
  std::string big(4 << 20, 'a');
  big += "\x1b]133;C";
  big += std::string(1 << 20, 'K');
  EXPECT_FALSE(extractOscOutput(big).found);
  EXPECT_FALSE(extractMarkerOutput(big, T).found);
  std::string lines;
  for (int i = 0; i < 200000; ++i) lines += "line\r\n";
  MarkerResult r = extractMarkerOutput(W + "\r\n" + lines + W + ":0\r\n", T);
  ASSERT_TRUE(r.found);
  EXPECT_EQ(r.output, lines);
  EXPECT_EQ(cleanCapture(std::string(1 << 20, '\r')), "");
}

namespace {

// extractOscOutput as the mark rules read, built from findOscMark alone.
OscResult referenceOsc(const std::string& text) {
  OscResult r;
  OscMark c, d, more;
  if (!findOscMark(text, 0, 'C', c) || !findOscMark(text, c.start, 'D', d)) return r;
  size_t p = c.end;
  while (findOscMark(text, p, 'C', more) && more.start < d.start) p = more.end;
  r.found = true;
  r.exitCode = d.exitCode;
  r.output = cleanCapture(text.substr(p, d.start - p));
  return r;
}

std::string randomText(std::mt19937& rng, const std::vector<std::string>& pieces, int count) {
  std::string text;
  for (int i = 0; i < count; ++i) text += pieces[rng() % pieces.size()];
  return text;
}

}  // namespace

// Random outputs read in random chunks: after every read the scanners answer exactly what a
// fresh search of everything read so far answers.
TEST(RunFrames, ScannersMatchFreshSearchesOnRandomOutput) {
  std::mt19937 rng(12345);
  const std::vector<std::string> oscPieces = {"\x1b]133;C\a", "\x1b]133;D;", "\x1b]133;D\a", "7", "12", "\a",
                                              "\x1b\\", "\x1b", "x", "\r\n", "\x1b]133;A\a", "\x1b]133;", "C",
                                              "D", ";", "\x1b[?2004l", "\x1b[0m"};
  const std::vector<std::string> markerPieces = {W, W, ":", "3", "45", "\r", "\n", "x", "K", "KORCTL_", "echo "};
  const std::regex endRe(W + ":([0-9]+)\r?\n");
  const std::regex startRe(W + "\r?\n");
  const std::regex lineRe("[\r\n]" + W + "\r?\n");
  for (int round = 0; round < 300; ++round) {
    const std::string osc = randomText(rng, oscPieces, 1 + static_cast<int>(rng() % 30));
    OscScanner oscScanner;
    for (size_t n = 0;;) {
      const std::string prefix = osc.substr(0, n);
      oscScanner.scan(prefix);
      OscResult fresh = referenceOsc(prefix);
      ASSERT_EQ(oscScanner.endFound, fresh.found) << round << " " << n;
      if (fresh.found) {
        OscResult r = oscScanner.result(prefix);
        ASSERT_EQ(r.output, fresh.output) << round;
        ASSERT_EQ(r.exitCode, fresh.exitCode) << round;
        break;
      }
      ASSERT_EQ(oscScanner.started, oscStarted(prefix)) << round << " " << n << " " << ::testing::PrintToString(prefix);
      if (n == osc.size()) break;
      n = std::min(osc.size(), n + 1 + rng() % 8);
    }

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
