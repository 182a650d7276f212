#pragma once
#include <cmath>

namespace kor {

// Seconds from the command line to whole milliseconds, truncated toward zero. Values that
// would overflow (1e300, inf) are clamped to +/-10^12 ms, so a huge limit means "practically
// forever", never "already expired"; nan counts as 0.
inline long long durationMillis(double seconds) {
  constexpr double limit = 1e12;
  if (std::isnan(seconds)) return 0;
  double ms = std::trunc(seconds * 1000.0);
  if (ms > limit) return static_cast<long long>(limit);
  if (ms < -limit) return static_cast<long long>(-limit);
  return static_cast<long long>(ms);
}

}  // namespace kor
