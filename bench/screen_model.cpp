// The daemon's screen model alone: how fast it takes output of a few kinds, against the
// emulator fed every byte, and what it holds. Built as build/screen_model_bench; run by
// bench/kor_ingest.py, or alone: screen_model_bench [MIB].
#include <vterm.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "kor/Screen.h"

namespace {

void dropAnswer(const char*, size_t, void*) {}

double seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// MiB/s for total bytes of block fed in pieces of 64 KiB, to the model or to the bare emulator.
double rate(const std::string& block, size_t total, bool model) {
  kor::Screen screen = kor::makeScreen(24, 80);
  VTerm* vt = vterm_new(24, 80);
  vterm_set_utf8(vt, 1);
  vterm_output_set_callback(vt, dropAnswer, nullptr);
  vterm_screen_reset(vterm_obtain_screen(vt), 1);
  auto start = std::chrono::steady_clock::now();
  for (size_t fed = 0; fed < total; fed += block.size()) {
    if (model) kor::feedScreen(screen, block.data(), block.size());
    else vterm_input_write(vt, block.data(), block.size());
  }
  if (model) kor::captureScreen(screen, false);  // everything held back is taken in too
  double elapsed = seconds(std::chrono::steady_clock::now() - start);
  vterm_free(vt);
  return total / 1048576.0 / elapsed;
}

std::string repeated(const std::string& unit) {
  std::string block;
  while (block.size() + unit.size() <= 64 * 1024) block += unit;
  return block;
}

}  // namespace

int main(int argc, char** argv) {
  const size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  struct Kind {
    const char* name;
    std::string block;
    size_t mib;  // the bare emulator is slow; it gets less
  } kinds[] = {
      {"unbroken text (head -c | tr)", repeated(std::string(4096, 'x')), mib},
      {"lines (seq)", repeated("1234567\r\n"), mib},
      {"log lines", repeated("2026-01-01 12:00:00 INFO worker 17: request served in 3 ms\r\n"), mib},
      {"coloured lines (ls --color)", repeated("\x1b[0m\x1b[01;34mdirectory\x1b[0m  \x1b[01;32mprogram\x1b[0m  file.txt\r\n"), mib / 4},
      {"full-screen redraws", repeated("\x1b[H\x1b[2J\x1b[1;1H\x1b[7m top \x1b[m\x1b[2;1H" + std::string(70, '-') + "\x1b[24;1H:"), mib / 4},
  };
  std::printf("the screen model (24x80) taking output in 64 KiB reads:\n");
  for (const Kind& kind : kinds) {
    size_t total = std::max<size_t>(kind.mib, 1) << 20;
    double withModel = rate(kind.block, total, true);
    double bare = rate(kind.block, std::min<size_t>(total, 16u << 20), false);
    std::printf("  %-30s model %8.1f MiB/s   emulator fed every byte %6.1f MiB/s\n", kind.name, withModel, bare);
  }
  return 0;
}
