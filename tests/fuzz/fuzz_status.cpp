// The status record and the ended-reason file, as korctl reads them from a daemon or a disk.
#include <climits>

#include "FuzzSupport.h"
#include "base/Paths.h"
#include "base/StatusRecord.h"
#include "base/Wire.h"

using namespace kor;

namespace {

// atoll's reading of a number, without its overflow: saturated at the 64-bit limits.
long long referenceNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  __int128 value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<__int128>(LLONG_MAX) + 1) value = static_cast<__int128>(LLONG_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > LLONG_MAX) value = LLONG_MAX;
  return static_cast<long long>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input = fuzz::bytes(data, size);
  FUZZ_CHECK(parseLongLong(input) == referenceNumber(input));

  const std::vector<std::string> lines = fuzz::lines(input);
  const StatusMap map = parseStatusRecord(input);
  for (const auto& field : map) {
    FUZZ_CHECK(field.first.find('=') == std::string::npos && field.first.find('\n') == std::string::npos);
    FUZZ_CHECK(field.second.find('\n') == std::string::npos);
    // A field look-up reads the first line with the key; the map keeps the last.
    const std::string prefix = field.first + "=";
    for (const std::string& line : lines) {
      if (line.compare(0, prefix.size(), prefix) != 0) continue;
      FUZZ_CHECK(statusFieldIn(input, field.first) == referenceNumber(line.substr(prefix.size())));
      break;
    }
  }
  if (map.empty()) FUZZ_CHECK(input.find('=') == std::string::npos);

  const long long now = size >= 8 ? decodeInt64(input.data()) : 0;
  const std::string reason = parseGoneReason(input, now);
  FUZZ_CHECK(reason.find('\n') == std::string::npos);
  return 0;
}
