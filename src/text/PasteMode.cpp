#include "text/PasteMode.h"

namespace kor {

namespace {

const std::string kPasteOff = "\x1b[?2004l";
const std::string kPasteOnSwitch = "\x1b[?2004h";

}  // namespace

const char* const kPasteEnd = "\x1b[201~";

bool judgePasteOn(const std::string& text) {
  size_t off = text.rfind(kPasteOff);
  if (off == std::string::npos) return true;
  size_t on = text.rfind(kPasteOnSwitch);
  return on != std::string::npos && on > off;
}

bool ParkedSearch::scan(const std::string& text) {
  if (parked) return true;
  const std::string& wanted = sawOff ? kPasteOnSwitch : kPasteOff;
  size_t p = text.find(wanted, resume);
  if (p != std::string::npos && !sawOff) {
    sawOff = true;
    p = text.find(kPasteOnSwitch, p + kPasteOff.size());
  }
  if (p != std::string::npos && sawOff) return parked = true;
  // Both sequences are 8 bytes: one cut off by the end starts in the last 7.
  size_t tail = text.size() >= 7 ? text.size() - 7 : 0;
  if (tail > resume) resume = tail;
  return false;
}

}  // namespace kor
