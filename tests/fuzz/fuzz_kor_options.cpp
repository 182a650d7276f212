// kor's command line: whatever is accepted is within its limits, whatever is refused is
// refused with a message (never a crash or another kind of error).
#include <stdexcept>

#include "FuzzSupport.h"
#include "base/Paths.h"
#include "kor/KorOptions.h"

using namespace kor;

namespace {

// The exact value of a size text, or -1 when it is no size: digits, then an optional unit.
__int128 referenceSize(const std::string& text) {
  size_t digits = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9') ++digits;
  if (digits == 0 || digits > 12) return -1;
  __int128 value = 0;
  for (size_t i = 0; i < digits; ++i) value = value * 10 + (text[i] - '0');
  std::string unit;
  for (char c : text.substr(digits)) unit += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (unit.empty() || unit == "B") return value;
  const char letter = unit[0];
  const std::string rest = unit.substr(1);
  if (rest != "" && rest != "B" && rest != "IB") return -1;
  if (letter == 'K') return value << 10;
  if (letter == 'M') return value << 20;
  if (letter == 'G') return value << 30;
  return -1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = fuzz::bytes(data, size);
  try {
    const size_t bytes = parseByteSize(input);
    FUZZ_CHECK(referenceSize(input) == static_cast<__int128>(bytes));
  } catch (const std::runtime_error&) {
    FUZZ_CHECK(referenceSize(input) == -1 || referenceSize(input) > static_cast<__int128>(SIZE_MAX));
  }
  try {
    int rows = 0, cols = 0;
    parseTermSize(input, rows, cols);
    FUZZ_CHECK(rows >= 1 && rows <= 65535 && cols >= 1 && cols <= 65535);
  } catch (const std::runtime_error&) {
  }
  try {
    const KorOptions options = parseKorArgs(fuzz::words(input));
    if (!options.help) {
      FUZZ_CHECK(options.ctl && !options.host.empty() && newSessionNameProblem(options.name).empty());
      FUZZ_CHECK(options.scrollback >= kMinScrollback && options.scrollback <= kMaxScrollback);
      FUZZ_CHECK(options.rows >= 1 && options.rows <= 65535 && options.cols >= 1 && options.cols <= 65535);
    }
  } catch (const std::runtime_error&) {
  }
  return 0;
}
