#include "text/ScreenText.h"

#include <nlohmann/json.hpp>

namespace kor {

namespace {

std::string moveTo(int row, int col) { return "\x1b[" + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H"; }

}  // namespace

std::string screenRows(const ScreenImage& screen) {
  std::string out;
  for (const std::string& line : screen.lines) {
    out += line;
    out += '\n';
  }
  return out;
}

nlohmann::ordered_json screenObject(const ScreenImage& screen) {
  return {
      {"rows", screen.rows},
      {"cols", screen.cols},
      {"cursor", {{"row", screen.cursorRow}, {"col", screen.cursorCol}}},
      {"alternate", screen.alternate},
      {"lines", screen.lines},
  };
}

std::string screenJson(const ScreenImage& screen) {
  return screenObject(screen).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

std::string screenDrawing(const ScreenImage& screen) {
  std::string out = screen.alternate ? "\x1b[?1049h" : "";
  out += "\x1b[0m\x1b[H\x1b[2J";
  for (size_t row = 0; row < screen.lines.size(); ++row) {
    if (screen.lines[row].empty()) continue;
    out += moveTo(static_cast<int>(row), 0) + screen.lines[row];
  }
  out += "\x1b[0m" + moveTo(screen.cursorRow, screen.cursorCol);
  out += screen.cursorVisible ? "\x1b[?25h" : "\x1b[?25l";
  return out;
}

}  // namespace kor
