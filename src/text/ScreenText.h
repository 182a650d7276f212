#pragma once
// The screen as korctl shows it: plain rows, one JSON object, or the bytes that draw it on a
// terminal. Pure.
#include <string>

#include <nlohmann/json.hpp>

#include "base/Wire.h"

namespace kor {

// Every row, each ended by a line feed.
std::string screenRows(const ScreenImage& screen);

// {"rows":R,"cols":C,"cursor":{"row":Y,"col":X},"alternate":B,"lines":[...]} (rows and cursor
// from 0).
nlohmann::ordered_json screenObject(const ScreenImage& screen);
// That object on one line; bytes that are not UTF-8 come out as U+FFFD.
std::string screenJson(const ScreenImage& screen);

// Clears a terminal and draws the screen on it: the alternate screen first when the screen is
// on it, every row at its place (rows with attributes keep them), then the cursor where it is,
// shown or hidden.
std::string screenDrawing(const ScreenImage& screen);

}  // namespace kor
