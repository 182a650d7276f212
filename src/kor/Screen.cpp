#include "kor/Screen.h"

#include <vterm.h>

#include <algorithm>

#include "kor/ScreenFeed.h"

namespace kor {

struct ScreenModel {
  VTerm* vt = nullptr;
  VTermScreen* screen = nullptr;
  ScreenFeed feed;
  std::string input;  // what the feed passes on, reused between calls
  bool alternate = false;
  bool cursorVisible = true;
};

void ScreenModelDeleter::operator()(ScreenModel* model) const {
  if (model->vt) vterm_free(model->vt);
  delete model;
}

namespace {

// A terminal may claim any size up to 65535 square; the model covers at most this much of it
// (about 20 MB a screen), from the top left. It is at least two columns wide: the emulator
// crashes on a wide character in a single column.
constexpr int kMaxRows = 500;
constexpr int kMaxCols = 1000;
constexpr int kMinCols = 2;

int clampSize(int value, int least, int limit) { return std::min(std::max(value, least), limit); }

// The emulator answers queries (cursor position, device attributes) as a terminal would; the
// session's programs get their answers from an attached terminal, if any, never from here.
void dropAnswer(const char*, size_t, void*) {}

int onTermProp(VTermProp prop, VTermValue* value, void* user) {
  ScreenModel& model = *static_cast<ScreenModel*>(user);
  if (prop == VTERM_PROP_ALTSCREEN) model.alternate = value->boolean != 0;
  if (prop == VTERM_PROP_CURSORVISIBLE) model.cursorVisible = value->boolean != 0;
  return 1;
}

const VTermScreenCallbacks kCallbacks = {
    nullptr, nullptr, nullptr, onTermProp, nullptr, nullptr, nullptr, nullptr,
};

void catchUp(ScreenModel& model) {
  flushScreenFeed(model.feed, model.input);
  if (!model.input.empty()) vterm_input_write(model.vt, model.input.data(), model.input.size());
  model.input.clear();
}

void appendUtf8(std::string& out, uint32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void appendColour(std::string& params, const VTermColor& colour, bool background) {
  if (background ? VTERM_COLOR_IS_DEFAULT_BG(&colour) : VTERM_COLOR_IS_DEFAULT_FG(&colour)) return;
  const int base = background ? 40 : 30;
  if (VTERM_COLOR_IS_INDEXED(&colour)) {
    int index = colour.indexed.idx;
    if (index < 8) params += ";" + std::to_string(base + index);
    else if (index < 16) params += ";" + std::to_string(base + 60 + index - 8);
    else params += ";" + std::to_string(base + 8) + ";5;" + std::to_string(index);
  } else {
    params += ";" + std::to_string(base + 8) + ";2;" + std::to_string(colour.rgb.red) + ";" +
              std::to_string(colour.rgb.green) + ";" + std::to_string(colour.rgb.blue);
  }
}

// The SGR parameters of a cell after a reset ("" for the default look), each with a leading ';'.
std::string sgrParams(const VTermScreenCell& cell) {
  std::string params;
  const VTermScreenCellAttrs& a = cell.attrs;
  if (a.bold) params += ";1";
  if (a.italic) params += ";3";
  if (a.underline == VTERM_UNDERLINE_SINGLE) params += ";4";
  if (a.underline == VTERM_UNDERLINE_DOUBLE) params += ";21";
  if (a.underline == VTERM_UNDERLINE_CURLY) params += ";4:3";
  if (a.blink) params += ";5";
  if (a.reverse) params += ";7";
  if (a.strike) params += ";9";
  if (a.font) params += ";" + std::to_string(10 + a.font);
  appendColour(params, cell.fg, false);
  appendColour(params, cell.bg, true);
  return params;
}

bool isBlank(const VTermScreenCell& cell) { return cell.chars[0] == 0 || cell.chars[0] == ' '; }

// A blank still shows when it has a background, is reversed, underlined or struck through.
bool blankShows(const VTermScreenCell& cell) {
  return !VTERM_COLOR_IS_DEFAULT_BG(&cell.bg) || cell.attrs.reverse || cell.attrs.underline || cell.attrs.strike;
}

std::string renderRow(const ScreenModel& model, int row, int cols, bool attributes) {
  std::vector<VTermScreenCell> cells(static_cast<size_t>(cols));
  int end = 0;  // one past the last cell that shows
  for (int col = 0; col < cols; ++col) {
    vterm_screen_get_cell(model.screen, VTermPos{row, col}, &cells[col]);
    const VTermScreenCell& cell = cells[col];
    if (cell.chars[0] == static_cast<uint32_t>(-1)) continue;  // right half of a wide character
    if (!isBlank(cell) || (attributes && blankShows(cell))) end = col + std::max(1, static_cast<int>(cell.width));
  }
  std::string line;
  std::string current;  // SGR parameters in force
  for (int col = 0; col < std::min(end, cols); ++col) {
    const VTermScreenCell& cell = cells[col];
    if (cell.chars[0] == static_cast<uint32_t>(-1)) continue;
    if (attributes) {
      std::string params = sgrParams(cell);
      if (params != current) {
        line += "\x1b[0" + params + "m";
        current = params;
      }
    }
    if (cell.chars[0] == 0) {
      line += ' ';
      continue;
    }
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i]; ++i) appendUtf8(line, cell.chars[i]);
  }
  if (!current.empty()) line += "\x1b[0m";
  return line;
}

}  // namespace

Screen makeScreen(int rows, int cols) {
  rows = clampSize(rows, 1, kMaxRows);
  cols = clampSize(cols, kMinCols, kMaxCols);
  Screen screen;
  screen.model.reset(new ScreenModel);
  ScreenModel& model = *screen.model;
  model.vt = vterm_new(rows, cols);
  vterm_set_utf8(model.vt, 1);
  vterm_output_set_callback(model.vt, dropAnswer, nullptr);
  model.screen = vterm_obtain_screen(model.vt);
  vterm_screen_enable_altscreen(model.screen, 1);
  vterm_screen_set_callbacks(model.screen, &kCallbacks, &model);
  vterm_screen_reset(model.screen, 1);
  model.feed = makeScreenFeed(rows, cols);
  return screen;
}

void feedScreen(Screen& screen, const char* data, size_t length) {
  ScreenModel& model = *screen.model;
  feedScreenOutput(model.feed, data, length, model.input);
  if (model.input.empty()) return;
  vterm_input_write(model.vt, model.input.data(), model.input.size());
  model.input.clear();
}

void resizeScreen(Screen& screen, int rows, int cols) {
  ScreenModel& model = *screen.model;
  rows = clampSize(rows, 1, kMaxRows);
  cols = clampSize(cols, kMinCols, kMaxCols);
  catchUp(model);
  int oldRows = 0, oldCols = 0;
  vterm_get_size(model.vt, &oldRows, &oldCols);
  vterm_set_size(model.vt, rows, cols);
  resizeScreenFeed(model.feed, rows, cols);
  // The emulator keeps what a smaller screen no longer has room for, and then writes outside
  // it: a cursor above rows of text that a shorter screen pushes off the top ends up above the
  // screen, and the next edit there crashes it. So the cursor is put back inside, its saved
  // cursor is saved again where the cursor is (a cursor restored later would land outside the
  // screen), and the scrolling margins go back to the whole screen, as terminals do on a resize
  // (a top margin below the screen scrolls a region of negative length).
  VTermPos cursor;
  vterm_state_get_cursorpos(vterm_obtain_state(model.vt), &cursor);
  const bool outside = cursor.row < 0 || cursor.row >= rows || cursor.col < 0 || cursor.col >= cols;
  cursor.row = clampSize(cursor.row, 0, rows - 1);
  cursor.col = clampSize(cursor.col, 0, cols - 1);
  std::string settle;
  if (model.feed.scrollMargins) settle += "\x1b[r";  // (which homes the cursor)
  if (model.feed.scrollMargins || outside)
    settle += "\x1b[" + std::to_string(cursor.row + 1) + ";" + std::to_string(cursor.col + 1) + "H";
  if (rows < oldRows || cols < oldCols) settle += "\x1b" "7";
  feedScreen(screen, settle.data(), settle.size());
}

ScreenImage captureScreen(Screen& screen, bool attributes) {
  ScreenModel& model = *screen.model;
  catchUp(model);
  ScreenImage image;
  vterm_get_size(model.vt, &image.rows, &image.cols);
  VTermPos cursor;
  vterm_state_get_cursorpos(vterm_obtain_state(model.vt), &cursor);
  image.cursorRow = cursor.row;
  image.cursorCol = cursor.col;
  image.cursorVisible = model.cursorVisible;
  image.alternate = model.alternate;
  for (int row = 0; row < image.rows; ++row) image.lines.push_back(renderRow(model, row, image.cols, attributes));
  return image;
}

}  // namespace kor
