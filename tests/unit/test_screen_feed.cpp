#include <gtest/gtest.h>
#include <vterm.h>

#include <cstring>
#include <random>
#include <string>

#include "kor/ScreenFeed.h"

using namespace kor;

// The feed checked against the emulator fed every byte.
namespace {

void ignoreAnswer(const char*, size_t, void*) {}

struct Emulator {
  VTerm* vt;
  explicit Emulator(int rows, int cols) : vt(vterm_new(rows, cols)) {
    vterm_set_utf8(vt, 1);
    vterm_output_set_callback(vt, ignoreAnswer, nullptr);
    VTermScreen* screen = vterm_obtain_screen(vt);
    vterm_screen_enable_altscreen(screen, 1);
    vterm_screen_reset(screen, 1);
  }
  ~Emulator() { vterm_free(vt); }
  void write(const std::string& bytes) {
    if (!bytes.empty()) vterm_input_write(vt, bytes.data(), bytes.size());
  }
  // Every cell's characters, width and looks, and the cursor.
  std::string state() const {
    int rows, cols;
    vterm_get_size(vt, &rows, &cols);
    VTermPos cursor;
    vterm_state_get_cursorpos(vterm_obtain_state(vt), &cursor);
    std::string out = std::to_string(cursor.row) + "," + std::to_string(cursor.col) + "\n";
    VTermScreen* screen = vterm_obtain_screen(vt);
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) {
        VTermScreenCell cell;
        vterm_screen_get_cell(screen, VTermPos{r, c}, &cell);
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i]; ++i) out += std::to_string(cell.chars[i]) + "+";
        out += "/" + std::to_string(cell.width) + "/" + std::to_string(cell.attrs.bold) +
               std::to_string(cell.attrs.reverse) + std::to_string(cell.fg.type) + "." +
               std::to_string(cell.fg.indexed.idx) + std::to_string(cell.bg.type) + "." +
               std::to_string(cell.bg.indexed.idx) + " ";
      }
      out += "\n";
    }
    return out;
  }
};

// Printable ASCII but 'b': a sequence broken off and ended by a random 'b' would be a repeat
// (REP), which the emulator fed everything loops on after a combining mark.
std::string printable(std::mt19937& rng, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    char c = static_cast<char>(' ' + rng() % 95);
    text += c == 'b' ? 'B' : c;
  }
  return text;
}

// A piece of terminal output: floods of lines or of unbroken text, and the sequences that move
// the cursor, change how the screen scrolls or wraps, or are cut short.
std::string piece(std::mt19937& rng, int rows, int cols) {
  auto pick = [&](int n) { return static_cast<int>(rng() % n); };
  auto num = [&](int n) { return std::to_string(pick(n)); };
  switch (pick(22)) {
    case 0:
    case 1:
    case 2: {  // lines
      std::string text;
      const char* ends[] = {"\r\n", "\r\n", "\r\n", "\n", "\r", "\n\r", "\r\n\n"};
      const char* colours[] = {"", "", "\x1b[m", "\x1b[1;31m", "\x1b[0;44m", "\x1b[38;5;200m", "\x1b[7m"};
      for (int i = pick(12 * rows); i >= 0; --i)
        text += colours[pick(7)] + printable(rng, pick(2 * cols)) + colours[pick(7)] + ends[pick(7)];
      return text;
    }
    case 3:
    case 4:
      return printable(rng, pick(30 * rows * cols));  // one unbroken run
    case 5:
      return "\x1b[" + num(rows + 2) + ";" + num(cols + 2) + "H";
    case 6: {
      const char* moves[] = {"\x1b[2J", "\x1b[K", "\x1b[1J", "\x1b[3A", "\x1b[2B", "\x1b[4C", "\x1b[D",
                             "\x1b" "7", "\x1b" "8", "\x1b" "M", "\x1b" "D", "\x1b" "E", "\t", "\b", "\x1b[L",
                             "\x1b[2M", "\x1b[3@", "\x1b[P", "\x1b[S", "\x1b[T", "\x1b[5X", "\x1b[99@",
                             "\x1b[99P", "\x1b[2I", "\x1b[Z", "\x1b[99S", "\x1b[3g", "\x1bH", "\x1b[99X"};
      return moves[pick(29)];
    }
    case 7:
      return "\x1b[" + num(rows + 2) + ";" + num(rows + 3) + "r";
    case 8: {
      const char* whole[] = {"\x1b[r", "\x1b[;r", "\x1b[0;0r", "\x1b[1r"};
      return pick(2) ? std::string(whole[pick(4)]) : "\x1b[1;" + std::to_string(rows) + "r";
    }
    case 9:
      return pick(2) ? "\x1b[?7l" : "\x1b[?7h";
    case 10:
      return pick(3) ? "\x1b[?69h\x1b[" + num(cols) + ";" + num(cols + 2) + "s" : "\x1b[?69l";
    case 11:
      return pick(2) ? "\x1b[?1049h" : "\x1b[?1049l";
    case 12: {
      const char* modes[] = {"\x1b[4h", "\x1b[4l", "\x1b[20h", "\x1b[20l", "\x1b[?6h", "\x1b[?6l", "\x1b[!p", "\x1b" "c"};
      return modes[pick(8)];
    }
    case 13:
      return "\x1b[" + num(2) + ";3" + num(8) + ";4" + num(8) + "m";
    case 14: {
      const char* strings[] = {"\x1b]0;title\x07", "\x1b]2;t\x1b\\", "\x1bP1+p\x1b\\", "\x1bPz\x07", "\x1bP", "\x1b]0;cut", "\x1bPq#0;",
                               "\x1b_x\x07", "\x1b]1;a\x18", "\x1b]2;b\x1b[2J", "\x1bP1$r\x1b" "7"};
      return strings[pick(11)];
    }
    case 15: {
      // (whole sequences only: the emulator shows a broken one or not depending on how its
      // input was split, which is why the feed settles those itself)
      const char* utf8[] = {"\xe4\xb8\xad", "\xcc\x81", "\xc3\xa9", "\xf0\x9f\x99\x82", "\xe2\x94\x80\xe2\x94\x80"};
      return utf8[pick(5)];
    }
    case 16: {  // sequences broken off, with controls inside
      // (no character sets: the emulator applies a designated set or not depending on how the
      // output was split into writes)
      const char* broken[] = {"\x1b[", "\x1b[1;", "\x1b[?", "\x1b\xe4!", "\x1b(\xe4" "B", "\x1b[2\n;5r", "\x1b[1\x18",
                              "\x1b[3$r", "\x1b[1 2r", "\x1b[?7\x1bx", "\x1b#8", "\x1b)[", "\x1b.[2", "\x1b#]0;t\x07",
                              "\x1b(P1$r\x1b\\"};
      return broken[pick(15)];
    }
    default:
      return printable(rng, pick(cols)) + (pick(2) ? "\r\n" : "");
  }
}

void compareRun(unsigned seed) {
  std::mt19937 rng(seed);
  int rows = 2 + static_cast<int>(rng() % 12), cols = 2 + static_cast<int>(rng() % 30);
  Emulator all(rows, cols), cut(rows, cols);
  ScreenFeed feed = makeScreenFeed(rows, cols);
  std::string stream;
  for (int i = 0; i < 60; ++i) stream += piece(rng, rows, cols);
  std::string input;
  size_t at = 0;
  while (at < stream.size()) {
    size_t n = std::min<size_t>(stream.size() - at, 1 + rng() % 9000);
    all.write(stream.substr(at, n));
    feedScreenOutput(feed, stream.data() + at, n, input);
    at += n;
    if (rng() % 5 == 0) {
      flushScreenFeed(feed, input);
      cut.write(input);
      input.clear();
      ASSERT_EQ(cut.state(), all.state()) << "seed " << seed << " at byte " << at;
      if (rng() % 4 == 0) {
        rows = 2 + static_cast<int>(rng() % 12);
        cols = 2 + static_cast<int>(rng() % 30);
            vterm_set_size(all.vt, rows, cols);
        vterm_set_size(cut.vt, rows, cols);
        resizeScreenFeed(feed, rows, cols);
        // As the screen does after a resize: the cursor saved again, margins back to the whole
        // screen (the emulator writes outside a shrunken screen otherwise).
        std::string reset = "\x1b" "7\x1b[r\x1b[" + std::to_string(1 + rng() % rows) + "H";
        all.write(reset);
        feedScreenOutput(feed, reset.data(), reset.size(), input);
      }
    } else {
      cut.write(input);
      input.clear();
    }
  }
  flushScreenFeed(feed, input);
  cut.write(input);
  ASSERT_EQ(cut.state(), all.state()) << "seed " << seed;
}

}  // namespace

TEST(ScreenFeed, CutsNothingThatShowsOnTheScreen) {
  for (unsigned seed = 1; seed <= 400; ++seed) {
    compareRun(seed);
    if (HasFatalFailure()) return;
  }
}

TEST(ScreenFeed, NoRepeatReachesTheModelWithNothingBeforeItToRepeat) {
  // The model takes ESC ( [ as the start of a control sequence, as ESC [ is, and a repeat
  // with nothing to repeat that ends in a later write makes it loop for ever.
  // Nor may a sequence cut short by the escape of a repeat that is dropped be left open for
  // the next 'b' to end.
  auto modelInput = [](const char* start, const char* rest) {
    ScreenFeed feed = makeScreenFeed(4, 10);
    std::string input;
    feedScreenOutput(feed, start, std::strlen(start), input);
    feedScreenOutput(feed, rest, std::strlen(rest), input);
    flushScreenFeed(feed, input);
    return input;
  };
  for (const char* start : {"\x1b)[", "\x1b.[", "\x1b#[3", "\x1b(\x1b)[", "\x1b[", "\x1b[1;"})
    for (const char* rest : {"b", "3b", "\x1b[b"}) EXPECT_EQ(modelInput(start, rest), "") << start << rest;
  EXPECT_EQ(modelInput("\x1b[", "\x1b[bb"), "b");
  EXPECT_EQ(modelInput("\x1b[2\n", "\x1b[3bb"), "\nb");  // (a control inside still acts)
  EXPECT_EQ(modelInput("\x1b]0;t", "\x1b[b3\x1b[b"), "\x1b]0;t\x18" "3\x1b[b");  // the string ends there
}

TEST(ScreenFeed, FloodsReachTheModelCutDown) {
  struct Case {
    const char* name;
    std::string unit;
    const char* setup;
    bool cut;
  } cases[] = {
      {"unbroken text", std::string(4096, 'x'), "", true},
      {"lines", "a line of output, like most\r\n", "", true},
      {"coloured lines", "\x1b[01;34mdirectory\x1b[0m  \x1b[01;32mprogram\x1b[0m\r\n", "", true},
      {"lines after the margins are put back", "a line\r\n", "\x1b[2;5r\x1b[r", true},
      {"lines inside scrolling margins", "a line\r\n", "\x1b[2;5r", false},
      {"unbroken text without autowrap", std::string(4096, 'x'), "\x1b[?7l", false},
      {"unbroken text once autowrap is back", std::string(4096, 'x'), "\x1b[?7l\x1b[?7h", true},
  };
  for (const Case& c : cases) {
    ScreenFeed feed = makeScreenFeed(24, 80);
    std::string input;
    feedScreenOutput(feed, c.setup, std::strlen(c.setup), input);
    size_t total = 0, passed = 0;
    while (total < (8u << 20)) {
      feedScreenOutput(feed, c.unit.data(), c.unit.size(), input);
      total += c.unit.size();
      passed += input.size();
      input.clear();
    }
    flushScreenFeed(feed, input);
    passed += input.size();
    if (c.cut) EXPECT_LT(passed, 256u * 1024) << c.name;
    else EXPECT_GT(passed, total / 2) << c.name;
    EXPECT_LE(feed.held.size(), 1u << 20) << c.name;
  }
}

TEST(ScreenFeed, AnOpenSequenceFullOfControlsStaysSmall) {
  // Controls inside a sequence act and leave it open: the feed holds only so much of them.
  Emulator all(4, 10), cut(4, 10);
  ScreenFeed feed = makeScreenFeed(4, 10);
  std::string input;
  const std::string start = "ab\x1b[", controls(100000, '\n'), end = "3bz";
  for (const std::string* part : {&start, &controls, &end}) {
    all.write(*part);
    feedScreenOutput(feed, part->data(), part->size(), input);
    EXPECT_LE(feed.sequence.size(), 4097u);
  }
  flushScreenFeed(feed, input);
  cut.write(input);
  EXPECT_EQ(cut.state(), all.state());
}

