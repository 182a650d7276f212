#pragma once
// The daemon's exchange record as sniff shows it: the recorded bytes as printable text (the
// records themselves and parseExchange are in base/Wire.h). Pure, no I/O.
#include <string>

#include "base/Wire.h"

namespace kor {

// Bytes as printable text: \t \n \r \' \\ for those five bytes, printable ASCII as itself,
// every other byte as \xHH (lower-case hex).
std::string escapeBytes(const std::string& data);

// One output line of sniff: "» " or "« " (by direction), the escaped data, a line feed.
std::string formatExchangeRecord(const ExchangeRecord& record);

}  // namespace kor
