#pragma once
// The session's terminal as its programs see it: a terminal emulator (libvterm) that takes every
// output byte and can tell what the screen shows now.
#include <cstddef>
#include <memory>
#include <string>

#include "base/Wire.h"

namespace kor {

struct ScreenModel;
struct ScreenModelDeleter {
  void operator()(ScreenModel* model) const;
};

struct Screen {
  std::unique_ptr<ScreenModel, ScreenModelDeleter> model;
};

Screen makeScreen(int rows, int cols);
void feedScreen(Screen& screen, const char* data, size_t length);
void resizeScreen(Screen& screen, int rows, int cols);
// What the screen shows now; with attributes, rows carry SGR sequences for colours and
// attributes (each row starts from the default and ends back at it). head is left 0.
ScreenImage captureScreen(Screen& screen, bool attributes);

}  // namespace kor
