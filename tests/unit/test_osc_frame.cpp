// OSC 133 framing: the frame texts, the marks, the extraction and cleaning of the output, and
// the growing-output scanner.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "RandomText.h"
#include "text/OscFrame.h"

using namespace kor;

namespace {
const std::string T = "0a1b2c3d";
}  // namespace

TEST(OscFrame, WorkedFrameTexts) {
  EXPECT_EQ(buildOscFrame("ls", T, false),
            " eval \"$(cat <<'KORCTL_BODY_0a1b2c3d'\nls\nKORCTL_BODY_0a1b2c3d\n)\"\n");
  EXPECT_EQ(buildOscFrame("ls", T, true), "\x1b[200~ eval 'ls'\x1b[201~\r");
  EXPECT_EQ(buildOscFrame("ls", T, true, PasteWord::kFishUnescape),
            "\x1b[200~ eval (string unescape --style=url -- \"ls\" | string collect)\x1b[201~\r");
}

TEST(OscFrame, OscMarkExitCodes) {
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

TEST(OscFrame, OscMarksThatAreNotMarks) {
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

TEST(OscFrame, OscExtraction) {
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

TEST(OscFrame, CleanCaptureEnds) {
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
      // Attributes set and reset before the output change nothing visible: fish's noise.
      {"\x1b[30m\x1b(B\x1b[m\rtext", "text"},
      {"\x1b(0\x1b)B\x1b[1;31m\x1b[0;0mtext", "text"},
      {"\x1b[0m\x1b[1;31mred\x1b[0m\n", "\x1b[1;31mred\x1b[0m\n"},  // a colour in effect stays
      {"\x1b[30m\x1b(Btext", "\x1b[30m\x1b(Btext"},                    // no reset: kept
      {"\x1b[1mx\x1b[0mtext", "\x1b[1mx\x1b[0mtext"},                  // a visible byte ends the run
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cleanCapture(c.in), c.out) << c.in;
    // The same capture inside a larger text: nothing before or after it counts, not even
    // bytes that would end a sequence it leaves open.
    const std::string before = "p\x1b[", after = "m\a\x1b\\ \r";
    size_t start = 0, end = 0;
    captureBounds(before + c.in + after, before.size(), before.size() + c.in.size(), start, end);
    EXPECT_EQ((before + c.in + after).substr(start, end - start), c.out) << c.in;
  }
}

TEST(OscFrame, NoiseAndPartialLinePrimitives) {
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
TEST(OscFrame, OscScanOfGrowingOutputEqualsFreshSearch) {
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
TEST(OscFrame, LargeOutputsDoNotCrash) {
  std::string big(4 << 20, 'a');
  big += "\x1b]133;C";
  big += std::string(1 << 20, 'K');
  EXPECT_FALSE(extractOscOutput(big).found);
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


}  // namespace

// Random outputs read in random chunks: after every read the scanner answers exactly what a
// fresh search of everything read so far answers.
TEST(OscFrame, ScannerMatchesFreshSearchesOnRandomOutput) {
  std::mt19937 rng(12345);
  const std::vector<std::string> oscPieces = {"\x1b]133;C\a", "\x1b]133;D;", "\x1b]133;D\a", "7", "12", "\a",
                                              "\x1b\\", "\x1b", "x", "\r\n", "\x1b]133;A\a", "\x1b]133;", "C",
                                              "D", ";", "\x1b[?2004l", "\x1b[0m"};
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

  }
}
